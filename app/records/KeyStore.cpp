#include "app/records/KeyStore.h"

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/PrivateFile.h"

#include <QFile>
#include <QStringDecoder>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

LocalKeyStore::LocalKeyStore(QString folder) : m_folder(std::move(folder)) {}

QString LocalKeyStore::keyFile() const
{
    return m_folder + QStringLiteral("/openai.key");
}

bool LocalKeyStore::exists() const
{
    struct stat st {};
    return ::stat(QFile::encodeName(keyFile()).constData(), &st) == 0;
}

std::optional<QString> LocalKeyStore::read() const
{
    const auto bytes = PrivateFile::read(keyFile());
    if (!bytes)
        return std::nullopt;
    // Keep a leading byte-order mark too: the text comes back exactly as it is in the file. Stateless:
    // a file that ends inside a character does not decode, rather than giving a shorter key.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    QString text = decoder(*bytes);
    if (decoder.hasError())
        throw AppError(
            QStringLiteral("Le fichier de la clé API « openai.key » n’est pas un texte UTF-8 valide. "
                           "Enregistrez de nouveau votre clé."));
    return text;
}

void LocalKeyStore::save(const QString& key) const
{
    // Tightens a folder that was loosened by hand, then writes a file that is never readable by others.
    PrivateFile::ensureFolder(m_folder, PrivateFile::Tighten::Yes);
    PrivateFile::write(keyFile(), key.toUtf8());
}

void LocalKeyStore::remove() const
{
    const QString path = keyFile();
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        throw fileError(errno, FileOperation::Remove, path);
}

namespace APIKeyStore {
LocalKeyStore store()
{
    return LocalKeyStore(AppPaths::credentialsFolder());
}

bool exists()
{
    return store().exists();
}

std::optional<QString> read()
{
    return store().read();
}

void save(const QString& key)
{
    store().save(key);
}

void remove()
{
    store().remove();
}

std::optional<QString> enteredKey(const QString& typed)
{
    QString key = typed.trimmed();
    if (key.isEmpty())
        return std::nullopt;
    return key;
}
} // namespace APIKeyStore
