#include "tools/realtime-standin/StandInScript.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

namespace {

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

std::optional<QByteArray> StandInScript::readWav(const QByteArray& file)
{
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return std::nullopt;
    bool formatOK = false;
    qsizetype offset = 12;
    while (offset + 8 <= file.size()) {
        const QByteArray id = file.mid(offset, 4);
        const qsizetype size = qFromLittleEndian<quint32>(file.constData() + offset + 4);
        const qsizetype body = offset + 8;
        if (size > file.size() - body)
            return std::nullopt;
        if (id == "fmt " && size >= 16) {
            const auto* fmt = file.constData() + body;
            const quint16 format = qFromLittleEndian<quint16>(fmt);
            const quint16 channels = qFromLittleEndian<quint16>(fmt + 2);
            const quint32 rateHz = qFromLittleEndian<quint32>(fmt + 4);
            const quint16 bits = qFromLittleEndian<quint16>(fmt + 14);
            // 0xFFFE is the extensible header some tools write for the same PCM layout.
            formatOK = (format == 1 || format == 0xFFFE) && channels == 1 && rateHz == 24000 && bits == 16;
        } else if (id == "data") {
            if (!formatOK)
                return std::nullopt;
            return file.mid(body, size & ~qsizetype(1));
        }
        offset = body + size + (size & 1);
    }
    return std::nullopt;
}

std::optional<StandInScript> StandInScript::load(const QString& folder)
{
    const QDir dir(folder);
    const auto assistant = readFile(dir.filePath(QStringLiteral("assistant.txt")));
    const auto caller = readFile(dir.filePath(QStringLiteral("caller.txt")));
    if (!assistant || !caller)
        return std::nullopt;
    StandInScript script;
    for (const QString& line : QString::fromUtf8(*assistant).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0)
            return std::nullopt;
        Prompt prompt{line.left(tab), line.mid(tab + 1).trimmed(), {}};
        const auto wav = readFile(dir.filePath(prompt.name + QStringLiteral(".wav")));
        const auto pcm = wav ? readWav(*wav) : std::nullopt;
        if (!pcm)
            return std::nullopt;
        prompt.pcm = *pcm;
        script.prompts.append(prompt);
    }
    for (const QString& line : QString::fromUtf8(*caller).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        script.callerLines.append(line.trimmed());
    if (script.prompts.isEmpty() || script.callerLines.isEmpty())
        return std::nullopt;
    if (const auto facts = readFile(dir.filePath(QStringLiteral("follow-up.txt")))) {
        for (const QString& line : QString::fromUtf8(*facts).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1Char('#')))
                continue;
            const QStringList parts = line.split(QLatin1Char('\t'));
            bool number = false;
            const int callerLine = parts.value(0).toInt(&number) - 1;
            if (parts.size() != 3 || !number || callerLine < 0 || callerLine >= script.callerLines.size())
                return std::nullopt;
            script.followUpFacts.append(Fact{callerLine, parts[1].trimmed(), parts[2].trimmed()});
        }
    }
    return script;
}

QJsonObject StandInScript::followUpDraft(const QList<int>& heardCallerLines) const
{
    QJsonObject draft{{"caller_name", ""},
                      {"callback_number", ""},
                      {"address", ""},
                      {"request", "Appel sans demande précise, à rappeler si besoin."},
                      {"urgency", "normal"},
                      {"urgency_reason", "Rien d’urgent n’a été signalé"},
                      {"dossier", "Appels divers"}};
    for (const Fact& fact : followUpFacts) {
        if (heardCallerLines.contains(fact.callerLine))
            draft.insert(fact.field, fact.value);
    }
    return draft;
}

StandInScript StandInScript::builtIn()
{
    // The files are compiled in as Qt resources; a library built without them is a build error.
    auto script = load(QStringLiteral(":/realtime-standin/prompts"));
    Q_ASSERT(script);
    return script.value_or(StandInScript{});
}
