#include "tests/support/TestDataHome.h"

#include <QFile>
#include <sys/stat.h>

TestDataHome::TestDataHome()
{
    m_hadPrevious = qEnvironmentVariableIsSet("ORLEA_DATA_HOME");
    m_previous = qgetenv("ORLEA_DATA_HOME");
    qputenv("ORLEA_DATA_HOME", m_dir.path().toUtf8());
}

TestDataHome::~TestDataHome()
{
    if (m_hadPrevious)
        qputenv("ORLEA_DATA_HOME", m_previous);
    else
        qunsetenv("ORLEA_DATA_HOME");
}

int posixMode(const QString& path)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}
