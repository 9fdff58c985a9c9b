#pragma once

#include "flash/EsptoolEnvironment.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away home for engine tests: a resource folder that holds the fake flasher under the
// resource name for the chosen processor (and, when asked, a firmware image), and an empty
// per-user data folder for the installed copy.
class FakeEsptoolHome
{
public:
    explicit FakeEsptoolHome(const QString& machine = QStringLiteral("x86_64"));

    bool isValid() const { return m_root.isValid(); }
    tavix::EsptoolEnvironment environment() const { return m_environment; }

    QString resourceDirectory() const;
    QString toolDirectory() const;
    QString resourcePath(const QString& fileName) const;
    QString installedEsptoolPath() const;

    // Copies the fake flasher into the resources under the given name.
    void addEsptool(const QString& resourceName);
    void addFirmware(const QByteArray& content = QByteArrayLiteral("firmware image"));
    void addResourceFile(const QString& fileName, const QByteArray& content);

    // The steps the fake flasher runs (see fake_esptool.cpp), for every run that follows.
    static void setPlan(const QStringList& steps);
    // Where the fake flasher records its arguments; empty stops recording.
    static void setRecordFile(const QString& path);
    // Arguments recorded by the last run, and the NO_COLOR line last.
    static QStringList recordedLines(const QString& path);

private:
    QTemporaryDir m_root;
    tavix::EsptoolEnvironment m_environment;
};
