#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points $ORLEA_DATA_HOME at a fresh temporary folder for the life of the object.
class TestDataHome {
public:
    TestDataHome();
    ~TestDataHome();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

// POSIX mode bits of a file or folder (permission bits only), or -1 when it does not exist.
int posixMode(const QString& path);
