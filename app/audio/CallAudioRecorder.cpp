#include "app/audio/CallAudioRecorder.h"

#include "app/common/Clock.h"
#include "app/common/FileSystem.h"
#include "app/common/PrivateFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <optional>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const SystemClock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

AppError writeError(const QString& path, const char* reason)
{
    return AppError(QStringLiteral("L’enregistrement de l’appel n’a pas pu être écrit dans « %1 » (%2).")
                        .arg(QFileInfo(path).fileName(), QString::fromUtf8(reason)));
}

AppError readError(const QString& path, const char* reason)
{
    return AppError(QStringLiteral("La piste temporaire « %1 » n’a pas pu être relue (%2).")
                        .arg(QFileInfo(path).fileName(), QString::fromUtf8(reason)));
}

// A new file readable by its owner only from the first instant, opened as a sound file on its
// descriptor. A leftover of an earlier run at the same path is replaced. With `keptFd` the descriptor
// stays open after sf_close, for the caller to flush and close.
SNDFILE* createPrivateSoundFile(const QString& path, int format, int* keptFd = nullptr)
{
    const QByteArray name = native(path);
    int fd =
        ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, PrivateFile::kFileMode);
    if (fd < 0 && errno == EEXIST && ::unlink(name.constData()) == 0)
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    PrivateFile::kFileMode);
    if (fd < 0)
        throw fileError(errno, FileOperation::Write, path);
    if (::fchmod(fd, PrivateFile::kFileMode) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(name.constData());
        throw fileError(err, FileOperation::SetPermissions, path);
    }
    SF_INFO info{};
    info.samplerate = int(CallAudioRecorder::kSampleRateHz);
    info.channels = 1;
    info.format = format;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, keptFd ? SF_FALSE : SF_TRUE);
    if (!file) {
        const AppError error = writeError(path, sf_strerror(nullptr));
        ::close(fd);
        ::unlink(name.constData());
        throw error;
    }
    if (keptFd)
        *keptFd = fd;
    return file;
}

} // namespace

struct CallAudioRecorder::State {
    QString url;
    std::array<QString, 2> temporary;
    std::array<SNDFILE*, 2> files{nullptr, nullptr};
    std::array<sf_count_t, 2> lengths{0, 0};
    bool closed = false;
    std::optional<AppError> failure;
    std::vector<float> block = std::vector<float>(kBlockFrames);

    ~State() { closeFiles(); }

    void closeFiles()
    {
        for (SNDFILE*& file : files)
            if (file) {
                sf_close(file);
                file = nullptr;
            }
    }

    bool writeFrames(int track, const float* samples, sf_count_t frames)
    {
        if (sf_writef_float(files[size_t(track)], samples, frames) != frames) {
            failure = writeError(temporary[size_t(track)], sf_strerror(files[size_t(track)]));
            return false;
        }
        lengths[size_t(track)] += frames;
        return true;
    }

    void append(const QByteArray& pcm, int track, double arrivalSeconds);
    Result mix();
};

CallAudioRecorder::CallAudioRecorder(const QString& path) : CallAudioRecorder(path, systemClock()) {}

CallAudioRecorder::CallAudioRecorder(const QString& path, const Clock& clock)
    : m_clock(clock), m_originSeconds(clock.uptimeSeconds()), m_state(std::make_shared<State>())
{
    m_state->url = path;
    m_state->temporary = {path + QStringLiteral(".input.caf"), path + QStringLiteral(".voice.caf")};
    PrivateFile::ensureFolder(QFileInfo(path).absolutePath());
    try {
        for (size_t track = 0; track < 2; ++track)
            m_state->files[track] =
                createPrivateSoundFile(m_state->temporary[track], SF_FORMAT_CAF | SF_FORMAT_FLOAT);
    } catch (...) {
        m_state->closeFiles();
        for (const QString& temporary : m_state->temporary)
            ::unlink(native(temporary).constData());
        throw;
    }
    m_queue = std::make_unique<SerialQueue>(QString::fromLatin1(kQueueLabel));
}

CallAudioRecorder::~CallAudioRecorder() = default;

const QString& CallAudioRecorder::url() const
{
    return m_state->url;
}

std::array<QString, 2> CallAudioRecorder::temporaryPaths() const
{
    return m_state->temporary;
}

void CallAudioRecorder::append(const QByteArray& pcm, int track)
{
    const double arrivalSeconds = m_clock.uptimeSeconds() - m_originSeconds;
    m_queue->async(
        [state = m_state, pcm, track, arrivalSeconds] { state->append(pcm, track, arrivalSeconds); });
}

void CallAudioRecorder::State::append(const QByteArray& pcm, int track, double arrivalSeconds)
{
    if (closed || failure || (track != 0 && track != 1) || pcm.isEmpty())
        return;
    const sf_count_t samples = pcm.size() / 2;
    // The chunk ends where it arrived; a late one follows the previous chunk instead of
    // overwriting it.
    const sf_count_t end = sf_count_t(std::floor(arrivalSeconds * kSampleRateHz));
    const sf_count_t start = std::max<sf_count_t>(0, end - samples);
    std::fill(block.begin(), block.end(), 0.0f);
    while (lengths[size_t(track)] < start) {
        const sf_count_t n = std::min<sf_count_t>(start - lengths[size_t(track)], kBlockFrames);
        if (!writeFrames(track, block.data(), n))
            return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(pcm.constData());
    for (sf_count_t at = 0; at < samples; at += kBlockFrames) {
        const sf_count_t n = std::min<sf_count_t>(samples - at, kBlockFrames);
        for (sf_count_t i = 0; i < n; ++i) {
            const size_t byte = size_t(at + i) * 2;
            const auto sample = int16_t(uint16_t(bytes[byte]) | uint16_t(bytes[byte + 1]) << 8);
            block[size_t(i)] = float(sample) / 32768.0f;
        }
        if (!writeFrames(track, block.data(), n))
            return;
    }
}

void CallAudioRecorder::finish(Completion completion)
{
    m_queue->async([state = m_state, completion = std::move(completion)] {
        if (state->closed)
            return;
        state->closed = true;
        state->closeFiles();
        Result result = state->mix();
        if (completion)
            completion(result);
    });
}

CallAudioRecorder::Result CallAudioRecorder::State::mix()
{
    std::array<SNDFILE*, 2> readers{nullptr, nullptr};
    std::array<sf_count_t, 2> readerLengths{0, 0};
    QString partial;
    SNDFILE* output = nullptr;
    int outputFd = -1;
    auto fail = [&](const AppError& error) -> Result {
        for (SNDFILE* reader : readers)
            if (reader)
                sf_close(reader);
        if (output)
            sf_close(output);
        if (outputFd >= 0)
            ::close(outputFd);
        if (!partial.isEmpty())
            ::unlink(native(partial).constData());
        ::unlink(native(url).constData());
        return error;
    };
    if (failure)
        return fail(*failure);

    sf_count_t length = 0;
    for (size_t track = 0; track < 2; ++track) {
        SF_INFO info{};
        readers[track] = sf_open(native(temporary[track]).constData(), SFM_READ, &info);
        if (!readers[track])
            return fail(readError(temporary[track], sf_strerror(nullptr)));
        readerLengths[track] = info.frames;
        length = std::max(length, info.frames);
    }
    if (length < 1) {
        // Nothing to keep: the empty tracks go too.
        Result result = fail(AppError(QStringLiteral("Aucun son n’a été reçu pour cet enregistrement.")));
        for (const QString& path : temporary)
            ::unlink(native(path).constData());
        return result;
    }

    // The final file is written under a private temporary name and renamed into place whole.
    const QFileInfo info(url);
    partial = info.absolutePath() + QStringLiteral("/.") + info.fileName() +
              QLatin1String(FileSystem::kTemporarySuffix);
    try {
        output = createPrivateSoundFile(partial, SF_FORMAT_WAV | SF_FORMAT_PCM_16, &outputFd);
    } catch (const AppError& error) {
        partial.clear();
        return fail(error);
    }
    std::vector<float> mixed(kBlockFrames), read(kBlockFrames);
    std::array<sf_count_t, 2> positions{0, 0};
    for (sf_count_t position = 0; position < length;) {
        const sf_count_t n = std::min<sf_count_t>(length - position, kBlockFrames);
        std::fill(mixed.begin(), mixed.begin() + n, 0.0f);
        for (size_t track = 0; track < 2; ++track) {
            if (positions[track] >= readerLengths[track])
                continue;
            const sf_count_t want = std::min(n, readerLengths[track] - positions[track]);
            const sf_count_t got = sf_readf_float(readers[track], read.data(), want);
            if (got != want)
                return fail(readError(temporary[track], sf_strerror(readers[track])));
            for (sf_count_t i = 0; i < got; ++i)
                mixed[size_t(i)] += 0.5f * read[size_t(i)];
            positions[track] += got;
        }
        if (sf_writef_float(output, mixed.data(), n) != n)
            return fail(writeError(url, sf_strerror(output)));
        position += n;
    }
    for (SNDFILE*& reader : readers) {
        sf_close(reader);
        reader = nullptr;
    }
    const int closeStatus = sf_close(output);
    output = nullptr;
    if (closeStatus != 0)
        return fail(writeError(url, sf_error_number(closeStatus)));
    // Flushed and renamed whole, as every file the program keeps.
    const int fd = std::exchange(outputFd, -1);
    try {
        // A folder that would not flush leaves the recording in place: keeping it is worth more
        // than a report about its durability.
        [[maybe_unused]] const bool flushed = PrivateFile::replace(fd, partial, url);
    } catch (const AppError& error) {
        partial.clear(); // already removed
        return fail(error);
    }
    partial.clear();
    for (const QString& path : temporary)
        ::unlink(native(path).constData());
    return url;
}

void CallAudioRecorder::waitUntilIdle()
{
    m_queue->waitUntilIdle();
}
