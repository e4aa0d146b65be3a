// orlea-realtime-standin: the demo AI as a program of its own. Prints the URL to give the client
// (ORLEA_REALTIME_URL) on its first line, then serves until it is stopped.
#include "tools/realtime-standin/RealtimeStandIn.h"
#include "tools/realtime-standin/StandInAgent.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("orlea-realtime-standin"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loopback stand-in of the realtime AI service."));
    parser.addHelpOption();
    const QCommandLineOption port({"p", "port"}, "Port to listen on (0: any free port).", "port", "0");
    const QCommandLineOption speed({"s", "speed"}, "Pace of the answers: 1 real time, 0 all at once.",
                                   "factor", "1");
    const QCommandLineOption prompts("prompts", "Folder of prompts instead of the built-in ones.", "folder");
    const QCommandLineOption certificate("tls-cert", "PEM certificate: serve wss instead of ws.", "file");
    const QCommandLineOption key("tls-key", "PEM private key of the certificate.", "file");
    const QCommandLineOption neverConfirm("never-confirm", "Never confirm the session (a fault).");
    const QCommandLineOption sessionLimit(
        "session-limit", "End each session after this many seconds, as the service does.", "seconds");
    const QCommandLineOption refuse("refuse", "Refuse every handshake with this HTTP status (401, 403, 429).",
                                    "status");
    const QCommandLineOption draftFault(
        "draft-fault", "Answer the after-call draft badly: silent, malformed, oversized or late.", "fault");
    parser.addOptions(
        {port, speed, prompts, certificate, key, neverConfirm, sessionLimit, refuse, draftFault});
    parser.process(app);

    std::optional<StandInScript> script =
        parser.isSet(prompts) ? StandInScript::load(parser.value(prompts)) : StandInScript::builtIn();
    if (!script) {
        std::fprintf(stderr, "cannot load the prompts of %s\n", qPrintable(parser.value(prompts)));
        return 2;
    }
    std::optional<RealtimeStandIn::TlsFiles> tls;
    if (parser.isSet(certificate))
        tls = RealtimeStandIn::TlsFiles{parser.value(certificate), parser.value(key)};

    RealtimeStandIn server;
    StandInAgent agent(server, *script);
    agent.setSpeed(parser.value(speed).toDouble());
    if (parser.isSet(draftFault)) {
        const auto fault = StandInAgent::draftFaultNamed(parser.value(draftFault));
        if (!fault) {
            std::fprintf(stderr, "unknown draft fault %s\n", qPrintable(parser.value(draftFault)));
            return 2;
        }
        agent.setDraftFault(*fault);
    }
    server.setConfirmsSessions(!parser.isSet(neverConfirm));
    if (parser.isSet(sessionLimit))
        server.setSessionLimit(int(parser.value(sessionLimit).toDouble() * 1000));
    if (parser.isSet(refuse))
        server.refuseHandshakes(parser.value(refuse).toInt());
    server.setKeepsReceived(false);
    if (!server.listen(tls, quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(server.url().toString()));
    std::fflush(stdout);
    return app.exec();
}
