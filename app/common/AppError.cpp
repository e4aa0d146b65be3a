#include "app/common/AppError.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>

AppError::AppError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

QString fileErrorDescription(int errnoValue, FileOperation operation, const QString& path)
{
    const QString name = QStringLiteral("« %1 »").arg(QFileInfo(path).fileName());
    const bool isFolder = operation == FileOperation::CreateFolder;
    const QString object = (isFolder ? QStringLiteral("le dossier ") : QStringLiteral("le fichier ")) + name;

    switch (errnoValue) {
    case EACCES:
    case EPERM:
        switch (operation) {
        case FileOperation::Read:
            return QStringLiteral("Vous ne disposez pas de l’autorisation nécessaire pour lire %1.")
                .arg(object);
        case FileOperation::Remove:
            return QStringLiteral("Vous ne disposez pas de l’autorisation nécessaire pour supprimer %1.")
                .arg(object);
        case FileOperation::SetPermissions:
            return QStringLiteral("Impossible de protéger %1 : autorisation refusée.").arg(object);
        default:
            return QStringLiteral("Vous ne disposez pas de l’autorisation nécessaire pour enregistrer %1.")
                .arg(object);
        }
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Espace disque insuffisant pour enregistrer %1.").arg(object);
    case EROFS:
        return QStringLiteral("Le volume est en lecture seule : impossible d’enregistrer %1.").arg(object);
    case ENOENT:
        return QStringLiteral("%1 est introuvable.").arg(object.left(1).toUpper() + object.mid(1));
    case ENOTDIR:
        return QStringLiteral("Un élément du chemin vers %1 n’est pas un dossier.").arg(object);
    case EISDIR:
        return QStringLiteral("%1 est un dossier.").arg(name);
    case EEXIST:
        return QStringLiteral("Un fichier du même nom que %1 existe déjà.").arg(object);
    case EILSEQ:
        return QStringLiteral("Le contenu de %1 n’est pas un texte UTF-8 valide.").arg(name);
    default:
        break;
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(errnoValue));
    switch (operation) {
    case FileOperation::Read:
        return QStringLiteral("Impossible de lire %1 (%2).").arg(object, reason);
    case FileOperation::Remove:
        return QStringLiteral("Impossible de supprimer %1 (%2).").arg(object, reason);
    case FileOperation::CreateFolder:
        return QStringLiteral("Impossible de créer %1 (%2).").arg(object, reason);
    case FileOperation::SetPermissions:
        return QStringLiteral("Impossible de protéger %1 (%2).").arg(object, reason);
    case FileOperation::Write:
        break;
    }
    return QStringLiteral("Impossible d’enregistrer %1 (%2).").arg(object, reason);
}

AppError fileError(int errnoValue, FileOperation operation, const QString& path)
{
    return AppError(fileErrorDescription(errnoValue, operation, path));
}
