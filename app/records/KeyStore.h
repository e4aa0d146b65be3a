#pragma once

#include <QString>
#include <optional>

// The API key file: "openai.key" directly inside `folder`, the key's UTF-8 text exactly as saved.
// The folder is kept at mode 0700 and the file is private (0600) from the instant it is created.
// Failures throw AppError.
class LocalKeyStore {
public:
    explicit LocalKeyStore(QString folder);

    const QString& folder() const { return m_folder; }
    QString keyFile() const;

    bool exists() const;
    // The text unchanged (no trimming), or nullopt when there is no file.
    std::optional<QString> read() const;
    void save(const QString& key) const;
    // Removes the file; a missing file is a success. The folder stays.
    void remove() const;

private:
    QString m_folder;
};

// The application's key, in "Velkaro/Credentials" under Application Support. Nothing is cached: every
// use reads the file again.
namespace APIKeyStore {
LocalKeyStore store();
bool exists();
std::optional<QString> read();
void save(const QString& key);
void remove();

inline const QString kEmptyKeyMessage = QStringLiteral("Saisissez votre clé dans ce champ sécurisé.");
// What the key field hands to `save`: the typed text trimmed of blanks and line breaks, or nullopt when
// nothing is left (the caller shows kEmptyKeyMessage).
std::optional<QString> enteredKey(const QString& typed);
} // namespace APIKeyStore
