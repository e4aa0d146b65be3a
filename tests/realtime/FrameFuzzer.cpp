// libFuzzer target: the service's side of a conversation, one text frame per line of the input, fed
// whole to the client's event handling on a fresh connection. Nothing may crash, the usage that reaches
// the model stays sane (counts never negative, the cost estimate finite and positive), and every error
// carries a code and a French sentence for the user. A fatal error closes the connection, as the
// session does; the frames after it must then be ignored.

#include "app/realtime/RealtimeClient.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void check(const ConversationUsage& usage)
{
    if (usage.inputTokens < 0 || usage.outputTokens < 0 || usage.pendingResponses < 0)
        fail("usage counts went negative");
    if (usage.estimatedUSD && (!std::isfinite(*usage.estimatedUSD) || *usage.estimatedUSD < 0))
        fail("the cost estimate is not a finite positive amount");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The client's socket and timers need an application; the input never reaches a network.
    qputenv("ORLEA_REALTIME_URL", "ws://127.0.0.1:9/v1/realtime");
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RealtimeClient client;
    qsizetype audioBytes = 0;
    client.onAudio = [&](const QByteArray& pcm, const QString&) { audioBytes += pcm.size(); };
    client.onUsage = [](const ConversationUsage& usage) { check(usage); };
    client.onError = [&client](const RealtimeError& error) {
        if (error.code.isEmpty() || error.text.isEmpty())
            fail("an error reached the session without a code or a sentence for the user");
        if (!error.recoverable)
            client.close();
    };
    client.connect(QStringLiteral("key"), QStringLiteral("gpt-realtime"), QStringLiteral("marin"),
                   QStringLiteral("Instructions"));
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& frame : input.split('\n'))
        client.receiveFrame(frame);
    client.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
