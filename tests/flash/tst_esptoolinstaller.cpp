#include "FakeEsptoolHome.h"
#include "flash/EsptoolInstaller.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content, mode_t mode = 0644)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    ::chmod(QFile::encodeName(path).constData(), mode);
}

QStringList temporaryFilesIn(const QString& directory)
{
    return QDir(directory).entryList({u"*.tmp"_s}, QDir::Files | QDir::Hidden);
}

}  // namespace

class TestEsptoolInstaller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void choosesTheBuildForTheProcessor_data();
    void choosesTheBuildForTheProcessor();
    void locatesResourcesInOrder();
    void installsOrReusesTheCopy_data();
    void installsOrReusesTheCopy();
    void fallsBackToTheTemporaryFolder();
    void reportsWhatStoppedIt_data();
    void reportsWhatStoppedIt();
};

void TestEsptoolInstaller::choosesTheBuildForTheProcessor_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QString>("bundled");   // the one build among the resources
    QTest::addColumn<QString>("expected");  // the build prepared; empty: none
    QTest::newRow("macOS on Apple silicon")
        << u"arm64"_s << u"esptool_arm64"_s << u"esptool_arm64"_s;
    QTest::newRow("Linux on 64-bit Arm")
        << u"aarch64"_s << u"esptool_arm64"_s << u"esptool_arm64"_s;
    QTest::newRow("x86_64") << u"x86_64"_s << u"esptool_amd64"_s << u"esptool_amd64"_s;
    QTest::newRow("32-bit Arm") << u"armv7l"_s << u"esptool_amd64"_s << u"esptool_amd64"_s;
    QTest::newRow("case matters") << u"ARM64"_s << u"esptool_amd64"_s << u"esptool_amd64"_s;
    QTest::newRow("unknown") << QString() << u"esptool_amd64"_s << u"esptool_amd64"_s;
    QTest::newRow("only the other build") << u"x86_64"_s << u"esptool_arm64"_s << QString();
}

void TestEsptoolInstaller::choosesTheBuildForTheProcessor()
{
    QFETCH(QString, machine);
    QFETCH(QString, bundled);
    QFETCH(QString, expected);
    FakeEsptoolHome home(machine);
    home.addEsptool(bundled);
    const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();
    QCOMPARE(outcome.failureLine, QString());
    if (expected.isEmpty()) {
        QVERIFY(!outcome.path);
        QVERIFY(!QFileInfo::exists(home.toolDirectory()));
    } else {
        QCOMPARE(outcome.path, QDir(home.toolDirectory()).filePath(expected));
    }
}

void TestEsptoolInstaller::locatesResourcesInOrder()
{
    FakeEsptoolHome home;
    EsptoolEnvironment environment = home.environment();
    QTemporaryDir source;
    environment.sourceResourceDirectory = source.path();
    const QDir working(environment.workingDirectory);
    EsptoolInstaller installer(environment);

    const QString inResources = home.resourcePath(u"image.bin"_s);
    const QString inSource = QDir(source.path()).filePath(u"image.bin"_s);
    const QString inSubfolder = working.filePath(u"tavix-flash-tool/image.bin"_s);
    const QString inWorking = working.filePath(u"image.bin"_s);
    for (const QString& path : {inResources, inSource, inSubfolder, inWorking})
        writeFile(path, "x");

    QCOMPARE(installer.locateResource(u"image"_s, u"bin"_s), inResources);
    QFile::remove(inResources);
    QCOMPARE(installer.locateResource(u"image"_s, u"bin"_s), inSource);
    QFile::remove(inSource);
    QCOMPARE(installer.locateResource(u"image"_s, u"bin"_s), inSubfolder);
    QFile::remove(inSubfolder);
    QCOMPARE(installer.locateResource(u"image"_s, u"bin"_s), inWorking);
    QVERIFY(!installer.locateResource(u"image"_s));
    QFile::remove(inWorking);
    QVERIFY(!installer.locateResource(u"image"_s, u"bin"_s));
}

void TestEsptoolInstaller::installsOrReusesTheCopy_data()
{
    QTest::addColumn<QByteArray>("installedBefore");  // empty: none
    QTest::addColumn<QByteArray>("installedAfter");

    QTest::newRow("fresh") << QByteArray() << "#!/bin/sh\nexit 0\n"_ba;
    QTest::newRow("same size is reused") << "#!/bin/sh\nexit 1\n"_ba
                                         << "#!/bin/sh\nexit 1\n"_ba;
    QTest::newRow("another size is replaced") << "old build"_ba
                                              << "#!/bin/sh\nexit 0\n"_ba;
}

void TestEsptoolInstaller::installsOrReusesTheCopy()
{
    QFETCH(QByteArray, installedBefore);
    QFETCH(QByteArray, installedAfter);

    FakeEsptoolHome home;
    writeFile(home.resourcePath(u"esptool_amd64"_s), "#!/bin/sh\nexit 0\n", 0644);
    if (!installedBefore.isEmpty())
        writeFile(home.installedEsptoolPath(), installedBefore, 0600);
    // Another run's copy, cut short: not this run's to remove.
    const QString stale = u".esptool_amd64.0000-INTERRUPTED.tmp"_s;
    writeFile(QDir(home.toolDirectory()).filePath(stale), "half a copy");
    const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();

    QCOMPARE(outcome.path, home.installedEsptoolPath());
    QCOMPARE(outcome.failureLine, QString());
    QCOMPARE(contentOf(home.installedEsptoolPath()), installedAfter);
    QCOMPARE(modeOf(home.installedEsptoolPath()), mode_t(0755));
    QCOMPARE(modeOf(home.toolDirectory()), mode_t(0755));
    QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList{stale});
}

void TestEsptoolInstaller::fallsBackToTheTemporaryFolder()
{
    FakeEsptoolHome home;
    home.addEsptool(u"esptool_amd64"_s);
    EsptoolEnvironment environment = home.environment();
    environment.applicationSupportDirectory.clear();
    const QString expected =
        QDir(environment.temporaryDirectory).filePath(u"Tavix Flash Tool/esptool/esptool_amd64"_s);

    EsptoolInstaller installer(environment);
    QCOMPARE(installer.preparedEsptoolDirectory(),
             QDir(environment.temporaryDirectory).filePath(u"Tavix Flash Tool/esptool"_s));
    QCOMPARE(installer.prepare().path, expected);
    QCOMPARE(modeOf(expected), mode_t(0755));
}

void TestEsptoolInstaller::reportsWhatStoppedIt_data()
{
    QTest::addColumn<bool>("installedBefore");
    QTest::addColumn<QString>("obstacle");  // "folder" in the way, or whose chmod fails
    QTest::addColumn<QString>("failure");   // the line, with <dir>, <tmp> and <installed>

    const QString prefix = u"Failed to prepare esptool: "_s;
    const QString denied = u": Operation not permitted\n"_s;
    QTest::newRow("a folder where the copy goes")
        << false << u"folder"_s << prefix + u"Cannot move <tmp> to <installed>: "_s;
    QTest::newRow("tool folder's mode")
        << false << u"dir"_s << prefix + u"chmod directory failed for <dir>"_s + denied;
    QTest::newRow("reused copy's mode")
        << true << u"installed"_s << prefix + u"chmod executable failed for <installed>"_s + denied;
    QTest::newRow("temporary copy's mode")
        << false << u"tmp"_s << prefix + u"chmod executable failed for <tmp>"_s + denied;
    QTest::newRow("new copy's mode")
        << false << u"installed"_s
        << prefix + u"chmod executable failed for <installed>"_s + denied;
    QTest::newRow("a mode change that changes nothing")
        << false << u"everything"_s << u"Prepared esptool is not executable: <installed>\n"_s;
}

void TestEsptoolInstaller::reportsWhatStoppedIt()
{
    QFETCH(bool, installedBefore);
    QFETCH(QString, obstacle);
    QFETCH(QString, failure);

    FakeEsptoolHome home;
    writeFile(home.resourcePath(u"esptool_amd64"_s), "build", 0644);
    if (installedBefore)
        writeFile(home.installedEsptoolPath(), "BUILD");
    // A non-empty folder in the way: the rename over it fails after the copy was made.
    if (obstacle == u"folder")
        writeFile(QDir(home.installedEsptoolPath()).filePath(u"keep"_s), "x");

    QString temporary;
    EsptoolInstaller installer(home.environment());
    installer.setChmodFunction([&](const QString& path, mode_t mode) {
        if (path.endsWith(u".tmp"_s))
            temporary = path;
        if (obstacle == u"everything")
            return 0;  // "succeeds", changes nothing
        const bool fails = (obstacle == u"dir" && path == home.toolDirectory()) ||
                           (obstacle == u"tmp" && path == temporary) ||
                           (obstacle == u"installed" && path == home.installedEsptoolPath());
        errno = EPERM;
        return fails ? -1 : ::chmod(QFile::encodeName(path).constData(), mode);
    });

    const EsptoolInstaller::Outcome outcome = installer.prepare();
    QVERIFY(!outcome.path);
    QVERIFY2(
        outcome.failureLine.startsWith(failure.replace(u"<dir>"_s, home.toolDirectory())
                                           .replace(u"<tmp>"_s, temporary)
                                           .replace(u"<installed>"_s, home.installedEsptoolPath())),
        qPrintable(outcome.failureLine));
    QCOMPARE(outcome.failureLine.count(u'\n'), 1);
    QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList());
    if (obstacle == u"folder")
        QVERIFY(QFileInfo::exists(QDir(home.installedEsptoolPath()).filePath(u"keep"_s)));
}

QTEST_GUILESS_MAIN(TestEsptoolInstaller)
#include "tst_esptoolinstaller.moc"
