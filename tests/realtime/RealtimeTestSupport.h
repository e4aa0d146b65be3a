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
    QList<RealtimeError> failures;
    QList<QByteArray> audio;
    QStringList audioItems; // the item of each chunk
    QList<qint64> turnEnds;
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
        client.onAudio = [this](const QByteArray& bytes, const QString& item) {
            audio << bytes;
            audioItems << item;
            events << QStringLiteral("audio %1").arg(bytes.size());
        };
        client.onTranscript = [this](const QString& speaker, const QString& text, const QString&) {
            events << speaker + QStringLiteral(": ") + text;
        };
        client.onSpeechStopped = [this](qint64 audioEndMs) {
            turnEnds << audioEndMs;
            events << QStringLiteral("turn ended at %1 ms").arg(audioEndMs);
        };
        client.onInterruption = [this] {
            ++interruptions;
            events << QStringLiteral("interruption");
        };
        client.onError = [this](const RealtimeError& failure) {
            failures << failure;
            errors << failure.text;
            events << QStringLiteral("error ") + failure.text;
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
