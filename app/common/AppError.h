#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The application's one error type: a finished French sentence for the user.
class AppError : public std::exception {
public:
    explicit AppError(QString message);

    const QString& message() const { return m_message; }
    // Where the program shows "the system's description" of an error.
    const QString& localizedDescription() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// What a file operation was doing, so the French description can say so.
enum class FileOperation { Read, Write, CreateFolder, SetPermissions, Remove };

// A French description of a failed file operation on `path`, in the style of the platform's own messages.
QString fileErrorDescription(int errnoValue, FileOperation operation, const QString& path);
AppError fileError(int errnoValue, FileOperation operation, const QString& path);
