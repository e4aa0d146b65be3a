#include "tests/windows/WindowTestSupport.h"

#include "app/windows/TranscriptView.h"

#include <QScrollBar>
#include <QTextBrowser>

TEST(TranscriptViewTest, PlaceholderThenLinesKeepingTheNewestInView)
{
    TranscriptView view("Rien pour l’instant.");
    view.resize(400, 200);
    view.show();
    settle();
    EXPECT_TRUE(view.showsPlaceholder());
    EXPECT_TRUE(showsText(view, "Rien pour l’instant."));

    QList<TranscriptLine> lines{TranscriptLine::make("Orlea", "Bonjour."),
                                TranscriptLine::make("Interlocuteur", "Bonjour, j’appelle pour une fuite.")};
    view.setLines(lines);
    settle();
    EXPECT_FALSE(view.showsPlaceholder());
    EXPECT_FALSE(showsText(view, "Rien pour l’instant."));
    EXPECT_EQ(view.plainText(), "Orlea : Bonjour.\nInterlocuteur : Bonjour, j’appelle pour une fuite.");

    for (int index = 0; index < 40; ++index) {
        lines << TranscriptLine::make(index % 2 ? "Orlea" : "Interlocuteur",
                                      QString("Réplique %1").arg(index));
        view.setLines(lines);
        settle();
    }
    auto* text = view.findChild<QTextBrowser*>();
    ASSERT_NE(text, nullptr);
    QScrollBar* scroll = text->verticalScrollBar();
    EXPECT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum()) << "the newest line stays in view";
    EXPECT_TRUE(view.plainText().endsWith("Orlea : Réplique 39"));
    EXPECT_EQ(view.plainText().count('\n'), 41) << "each line once";

    view.resize(260, 150); // a narrower, shorter card wraps the lines again
    settle();
    EXPECT_EQ(scroll->value(), scroll->maximum()) << "the newest line stays in view through a resize";

    scroll->setValue(0); // the reader scrolls back
    lines << TranscriptLine::make("Orlea", "Encore une.");
    view.setLines(lines);
    settle();
    EXPECT_EQ(scroll->value(), 0) << "reading back is not interrupted";

    QList<TranscriptLine> other{TranscriptLine::make("Orlea", "Une autre conversation.")};
    view.setLines(other);
    EXPECT_EQ(view.plainText(), "Orlea : Une autre conversation.");
    // An answer the caller cut short says so, even when it is marked after it was shown.
    other.first().interrupted = true;
    view.setLines(other);
    EXPECT_EQ(view.plainText(), "Orlea : Une autre conversation. — coupé par l’appelant");
    view.setLines({});
    EXPECT_TRUE(view.showsPlaceholder());
}
