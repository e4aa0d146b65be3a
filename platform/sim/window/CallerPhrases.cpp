#include "platform/sim/window/CallerPhrases.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace sim {
namespace {

constexpr int kToolTimeoutMs = 20000;

QString callerTextFile()
{
    const QString source = qEnvironmentVariable("ORLEA_SOURCE_DIR");
    for (const QString& root : {source, QDir::currentPath()}) {
        if (root.isEmpty())
            continue;
        const QString path = root + QStringLiteral("/tools/realtime-standin/prompts/caller.txt");
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

// Runs a tool to completion; the error names it and says what it printed.
bool run(const QString& program, const QStringList& arguments, QString* error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(kToolTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("Échec de %1 : %2")
                         .arg(QFileInfo(program).fileName(),
                              QString::fromLocal8Bit(process.readAll()).trimmed().left(200));
        process.kill();
        return false;
    }
    return true;
}

} // namespace

QStringList CallerPhrases::lines()
{
    QFile file(callerTextFile());
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            lines.append(line.trimmed());
    return lines;
}

bool CallerPhrases::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("espeak-ng")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty() && !lines().isEmpty();
}

std::shared_ptr<InputSource> CallerPhrases::voice(const QString& cacheFolder, QString* error)
{
    const QStringList said = lines();
    if (said.isEmpty()) {
        if (error)
            *error = QStringLiteral("Aucune phrase d’appelant trouvée.");
        return nullptr;
    }
    // Named after the lines and pauses, so an edited script is spoken again.
    const QString script =
        said.join(QLatin1Char('\n')) + QStringLiteral("\n%1/%2").arg(kFirstPauseSeconds).arg(kPauseSeconds);
    const QByteArray digest =
        QCryptographicHash::hash(script.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    const QString target =
        cacheFolder + QStringLiteral("/appelant-") + QString::fromLatin1(digest) + QStringLiteral(".wav");
    if (!QFileInfo::exists(target)) {
        const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
        const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
        QTemporaryDir work;
        if (espeak.isEmpty() || sox.isEmpty() || !work.isValid() || !QDir().mkpath(cacheFolder)) {
            if (error)
                *error = QStringLiteral("La voix de synthèse n’est pas disponible (espeak-ng et sox).");
            return nullptr;
        }
        QStringList padded;
        for (int i = 0; i < said.size(); ++i) {
            const QString spoken = work.filePath(QStringLiteral("ligne-%1.wav").arg(i));
            const QString withPause = work.filePath(QStringLiteral("tour-%1.wav").arg(i));
            const double pause = i == 0 ? kFirstPauseSeconds : kPauseSeconds;
            // The line goes through a file: a line starting with "-" is no option of the synthesiser.
            QFile text(work.filePath(QStringLiteral("ligne-%1.txt").arg(i)));
            if (!text.open(QIODevice::WriteOnly) || text.write(said[i].toUtf8()) < 0) {
                if (error)
                    *error = QStringLiteral("Impossible de préparer la voix de l’appelant.");
                return nullptr;
            }
            text.close();
            if (!run(espeak,
                     {QStringLiteral("-v"), QStringLiteral("fr"), QStringLiteral("-s"), QStringLiteral("165"),
                      QStringLiteral("-w"), spoken, QStringLiteral("-f"), text.fileName()},
                     error) ||
                !run(sox, {spoken, withPause, QStringLiteral("pad"), QString::number(pause)}, error))
                return nullptr;
            padded.append(withPause);
        }
        // Made aside and renamed into place, so a half-made file never passes for the voice.
        const QString partial = work.filePath(QStringLiteral("appelant.wav"));
        if (!run(sox, padded + QStringList{partial, QStringLiteral("rate"), QStringLiteral("48000")}, error))
            return nullptr;
        const QString copied = target + QStringLiteral(".part");
        QFile::remove(copied);
        if (!QFile::copy(partial, copied) || !QFile::rename(copied, target)) {
            QFile::remove(copied);
            if (error)
                *error = QStringLiteral("Impossible d’enregistrer la voix dans %1.").arg(cacheFolder);
            return nullptr;
        }
    }
    std::string why;
    auto source = InputSource::wavFile(target.toStdString(), false, &why);
    if (!source && error)
        *error = QStringLiteral("Voix de l’appelant illisible : ") + QString::fromStdString(why);
    return source;
}

} // namespace sim
