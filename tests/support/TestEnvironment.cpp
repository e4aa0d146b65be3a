#include <QByteArray>
#include <QtGlobal>

// Tests run the same from ctest, from a shell or from a debugger: what ctest would set has a default.
void setUpTestEnvironment()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    if (!qEnvironmentVariableIsSet("ORLEA_SOURCE_DIR"))
        qputenv("ORLEA_SOURCE_DIR", QByteArray(ORLEA_SOURCE_DIR_DEFAULT));
    if (!qEnvironmentVariableIsSet("ORLEA_BUILD_DIR"))
        qputenv("ORLEA_BUILD_DIR", QByteArray(ORLEA_BUILD_DIR_DEFAULT));
}
