#include "app/ui/RecordingView.h"

#include "app/ui/AudioPlayerControls.h"
#include "app/ui/Icons.h"
#include "app/ui/RecordingPlayback.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMediaPlayer>
#include <QProgressBar>
#include <QVBoxLayout>
#include <sndfile.h>

const QString RecordingView::kFinalizingText = QStringLiteral("Préparation de l’enregistrement…");
const QString RecordingView::kNoRecordingText = QStringLiteral(
    "Pas d’enregistrement pour cet appel. Les anciens appels et les démonstrations n’ont pas d’audio.");
const QString RecordingView::kErrorPrefix = QStringLiteral("Enregistrement indisponible :");
const QString RecordingView::kMissingFileText =
    QStringLiteral("Le fichier audio n’est plus présent sur ce Mac.");
const QString RecordingView::kUnreadableText =
    QStringLiteral("Le fichier audio de cet appel est endommagé : il ne peut pas être lu.");
const QString RecordingView::kHeading = QStringLiteral("Enregistrement vocal");
const QString RecordingView::kExportTitle = QStringLiteral("Exporter l’audio");

RecordingView::RecordingView(QWidget* parent)
    : QWidget(parent), m_playback(new RecordingPlayback(this)), m_pages(new QStackedWidget(this))
{
    m_finalizingPage = buildFinalizingPage();
    m_messagePage = buildMessagePage();
    m_playerPage = buildPlayerPage();
    m_pages->addWidget(m_finalizingPage);
    m_pages->addWidget(m_messagePage);
    m_pages->addWidget(m_playerPage);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_pages);
    connect(m_playback, &RecordingPlayback::playerChanged, this, [this] {
        QMediaPlayer* player = m_playback->player();
        m_controls->setPlayer(player);
        if (!player)
            return;
        connect(player, &QMediaPlayer::errorOccurred, this, [this, player] {
            if (player == m_playback->player())
                playerFailed();
        });
        connect(player, &QMediaPlayer::mediaStatusChanged, this,
                [this, player](QMediaPlayer::MediaStatus status) {
                    if (status == QMediaPlayer::InvalidMedia && player == m_playback->player())
                        playerFailed();
                });
    });
    showPage(m_messagePage);
    m_message->setText(kNoRecordingText);
}

void RecordingView::showPage(QWidget* page)
{
    // A stack is as tall as its tallest page: the pages not shown must not hold room under a one-line
    // message.
    for (QWidget* each : {m_finalizingPage, m_messagePage, m_playerPage})
        each->setSizePolicy(QSizePolicy::Preferred,
                            each == page ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    m_pages->setCurrentWidget(page);
    m_pages->updateGeometry();
}

QWidget* RecordingView::buildFinalizingPage()
{
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(12, 10, 12, 10);
    auto* progress = new QProgressBar(page);
    progress->setRange(0, 0); // indeterminate: the recorder gives no percentage
    progress->setTextVisible(false);
    progress->setFixedSize(72, 8);
    auto* text = new QLabel(kFinalizingText, page);
    text->setObjectName(QStringLiteral("finalizingText"));
    row->addWidget(progress);
    row->addWidget(text, 1);
    row->setAlignment(Qt::AlignTop);
    return page;
}

QWidget* RecordingView::buildMessagePage()
{
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(12, 10, 12, 10);
    column->setSpacing(4);
    m_error = new QLabel(page);
    m_error->setObjectName(QStringLiteral("recordingError"));
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->setStyleSheet(QStringLiteral("color: #b42318;"));
    m_message = new QLabel(page);
    m_message->setObjectName(QStringLiteral("recordingMessage"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #4b5563;"));
    column->addWidget(m_error);
    column->addWidget(m_message);
    column->addStretch();
    return page;
}

QWidget* RecordingView::buildPlayerPage()
{
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(12, 10, 12, 10);
    column->setSpacing(8);
    auto* header = new QHBoxLayout;
    auto* icon = new QLabel(page);
    icon->setPixmap(Icons::pixmap(QStringLiteral("waveform"), 18));
    auto* heading = new QLabel(kHeading, page);
    heading->setObjectName(QStringLiteral("recordingHeading"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    m_exportButton = new QPushButton(kExportTitle, page);
    m_exportButton->setObjectName(QStringLiteral("exportRecording"));
    // Drawn like the window's other secondary buttons (the application style sheet keys on the role).
    m_exportButton->setProperty("role", QStringLiteral("secondary"));
    header->addWidget(icon);
    header->addWidget(heading, 1);
    header->addWidget(m_exportButton);
    m_controls = new AudioPlayerControls(page);
    column->addLayout(header);
    column->addWidget(m_controls);
    column->addStretch();
    connect(m_exportButton, &QPushButton::clicked, this, [this] {
        if (m_export)
            m_export(m_record);
    });
    return page;
}

RecordingView::State RecordingView::stateFor(const CallRecord& record, bool finalizing,
                                             const std::optional<QString>& recordingPath)
{
    if (finalizing)
        return State::Finalizing;
    if (!record.recordingFile)
        return State::NoRecording;
    // The path was resolved by the caller, but the file may have gone since.
    if (!recordingPath || !QFileInfo(*recordingPath).isFile())
        return State::MissingFile;
    // A header that does not open (a file cut short, overwritten, not a sound) is said so at once,
    // rather than left to a player that may only stay silent.
    SF_INFO info{};
    SNDFILE* sound = sf_open(QFile::encodeName(*recordingPath).constData(), SFM_READ, &info);
    if (!sound)
        return State::Unreadable;
    sf_close(sound);
    return State::Player;
}

void RecordingView::playerFailed()
{
    if (m_state != State::Player)
        return;
    m_state = State::Unreadable;
    m_message->setText(kUnreadableText);
    showPage(m_messagePage);
    // Released on a later turn: this runs inside the player's own signal.
    m_playback->load(std::nullopt);
}

void RecordingView::setRecord(const CallRecord& record, bool finalizing,
                              const std::optional<QString>& recordingPath)
{
    const bool sameRecord = record.id == m_record.id;
    m_record = record;
    m_state = stateFor(record, finalizing, recordingPath);

    // A recording error also explains a named file that never reached the disk.
    const bool showError = record.recordingError.has_value() && m_state != State::Player;
    m_error->setText(showError ? kErrorPrefix + QLatin1Char(' ') + *record.recordingError : QString());
    m_error->setVisible(showError);

    switch (m_state) {
    case State::Finalizing:
        showPage(m_finalizingPage);
        break;
    case State::NoRecording:
        m_message->setText(kNoRecordingText);
        showPage(m_messagePage);
        break;
    case State::MissingFile:
        m_message->setText(kMissingFileText);
        showPage(m_messagePage);
        break;
    case State::Unreadable:
        m_message->setText(kUnreadableText);
        showPage(m_messagePage);
        break;
    case State::Player:
        showPage(m_playerPage);
        break;
    }

    // Keep the player (and its position) while the same recording stays shown; otherwise reload, which
    // also lets go of a file that is no longer played.
    const std::optional<QString> wanted = m_state == State::Player ? recordingPath : std::optional<QString>();
    if (!sameRecord || wanted != m_playback->loadedPath() || (wanted && !m_playback->player()))
        m_playback->load(wanted);
}

QString RecordingView::messageText() const
{
    switch (m_state) {
    case State::Finalizing:
        return kFinalizingText;
    case State::NoRecording:
    case State::MissingFile:
    case State::Unreadable:
        return m_message->text();
    case State::Player:
        return {};
    }
    return {};
}
