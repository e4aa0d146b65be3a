#pragma once

#include "tools/realtime-standin/RealtimeStandIn.h"

#include <QProcess>
#include <QTemporaryDir>

// A throw-away certificate authority and a "localhost" server certificate it signed, made with the
// openssl command for the TLS tests of the realtime connection.
struct TestCertificates {
    QTemporaryDir folder;
    QString error;

    TestCertificates()
    {
        if (!folder.isValid()) {
            error = QStringLiteral("no temporary folder");
            return;
        }
        writeFile("server.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                                "basicConstraints=CA:FALSE\n"
                                "extendedKeyUsage=serverAuth\n");
        run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days",
             "2", "-subj", "/CN=Orlea Test CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
             "keyUsage=critical,keyCertSign,cRLSign"}) &&
            run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                 "-subj", "/CN=localhost"}) &&
            run({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                 "-out", "server.pem", "-days", "2", "-extfile", "server.ext"});
    }

    bool valid() const { return error.isEmpty(); }
    QString caPath() const { return folder.filePath("ca.pem"); }
    RealtimeStandIn::TlsFiles serverFiles() const
    {
        return {folder.filePath("server.pem"), folder.filePath("server.key")};
    }

private:
    bool run(const QStringList& arguments)
    {
        QProcess openssl;
        openssl.setWorkingDirectory(folder.path());
        openssl.start("openssl", arguments);
        if (!openssl.waitForFinished(60'000) || openssl.exitStatus() != QProcess::NormalExit ||
            openssl.exitCode() != 0) {
            error = "openssl " + arguments.join(' ') + ": " +
                    QString::fromLocal8Bit(openssl.readAllStandardError());
            return false;
        }
        return true;
    }

    void writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
};
