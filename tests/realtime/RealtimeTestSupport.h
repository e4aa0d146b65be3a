#pragma once

#include "app/realtime/RealtimeClient.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QList>
#include <QStringList>
#include <QTimer>
#include <functional>

// Runs the event loop for a moment, waking as soon as events arrive.
inline void spin(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Pumps the event loop until `done` holds or a generous deadline passes; never a speed assertion.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10'000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        spin(2);
    }
    return true;
}

// Lets in-flight frames land before checking that something did NOT happen.
inline void settle()
{
    spin(150);
}

// Everything the client reported through its callbacks, in order.
struct CallbackLog {
    QStringList events;
    QStringList errors;
    QList<QByteArray> audio;
    QList<ConversationUsage> usages;
    int ready = 0;
    int applied = 0;
    int interruptions = 0;

    void attach(RealtimeClient& client)
    {
        client.onReady = [this] {
            ++ready;
            events << QStringLiteral("ready");
        };
        client.onAudio = [this](const QByteArray& bytes) {
            audio << bytes;
            events << QStringLiteral("audio %1").arg(bytes.size());
        };
        client.onTranscript = [this](const QString& speaker, const QString& text) {
            events << speaker + QStringLiteral(": ") + text;
        };
        client.onInterruption = [this] {
            ++interruptions;
            events << QStringLiteral("interruption");
        };
        client.onError = [this](const QString& text) {
            errors << text;
            events << QStringLiteral("error ") + text;
        };
        client.onUsage = [this](const ConversationUsage& usage) {
            usages << usage;
            events << QStringLiteral("usage ") + usage.model;
        };
        client.onInstructionsApplied = [this] {
            ++applied;
            events << QStringLiteral("applied");
        };
    }
};
