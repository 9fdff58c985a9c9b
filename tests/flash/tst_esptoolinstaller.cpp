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

// A chmod that fails with EPERM for the paths the predicate picks and works for the others.
EsptoolInstaller::ChmodFunction chmodFailingFor(const std::function<bool(const QString&)>& fails)
{
    return [fails](const QString& path, mode_t mode) {
        if (fails(path)) {
            errno = EPERM;
            return -1;
        }
        return ::chmod(QFile::encodeName(path).constData(), mode);
    };
}

}  // namespace

class TestEsptoolInstaller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void choosesTheBuildForTheProcessor_data();
    void choosesTheBuildForTheProcessor();
    void findsNothingWithoutTheBuildForThisProcessor();
    void locatesResourcesInOrder();
    void installsOrReusesTheCopy_data();
    void installsOrReusesTheCopy();
    void keepsStaleTemporaryFilesOfOtherRuns();
    void fallsBackToTheTemporaryFolder();
    void reportsAFailedReplacementAndCleansUp();
    void reportsFailedModeChanges_data();
    void reportsFailedModeChanges();
    void reportsACopyThatIsNotExecutable();
};

void TestEsptoolInstaller::choosesTheBuildForTheProcessor_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QString>("resourceName");
    QTest::newRow("macOS on Apple silicon") << u"arm64"_s << u"esptool_arm64"_s;
    QTest::newRow("Linux on 64-bit Arm") << u"aarch64"_s << u"esptool_arm64"_s;
    QTest::newRow("x86_64") << u"x86_64"_s << u"esptool_amd64"_s;
    QTest::newRow("32-bit Arm") << u"armv7l"_s << u"esptool_amd64"_s;
    QTest::newRow("case matters") << u"ARM64"_s << u"esptool_amd64"_s;
    QTest::newRow("unknown") << QString() << u"esptool_amd64"_s;
}

void TestEsptoolInstaller::choosesTheBuildForTheProcessor()
{
    QFETCH(QString, machine);
    QFETCH(QString, resourceName);
    FakeEsptoolHome home(machine);
    home.addEsptool(resourceName);
    EsptoolInstaller installer(home.environment());
    QCOMPARE(installer.esptoolResourceName(), resourceName);
    QCOMPARE(installer.prepare().path, QDir(home.toolDirectory()).filePath(resourceName));
}

void TestEsptoolInstaller::findsNothingWithoutTheBuildForThisProcessor()
{
    FakeEsptoolHome home(u"x86_64"_s);
    home.addEsptool(u"esptool_arm64"_s);
    const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();
    QVERIFY(!outcome.path);
    QVERIFY(outcome.failureLine.isEmpty());
    QVERIFY(!QFileInfo::exists(home.toolDirectory()));
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
    const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();

    QCOMPARE(outcome.path, home.installedEsptoolPath());
    QCOMPARE(outcome.failureLine, QString());
    QCOMPARE(contentOf(home.installedEsptoolPath()), installedAfter);
    QCOMPARE(modeOf(home.installedEsptoolPath()), mode_t(0755));
    if (installedBefore.isEmpty())
        QCOMPARE(modeOf(home.toolDirectory()), mode_t(0755));
    QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList());
}

void TestEsptoolInstaller::keepsStaleTemporaryFilesOfOtherRuns()
{
    FakeEsptoolHome home;
    writeFile(home.resourcePath(u"esptool_amd64"_s), "build");
    const QString stale =
        QDir(home.toolDirectory()).filePath(u".esptool_amd64.0000-INTERRUPTED.tmp"_s);
    writeFile(stale, "half a copy");

    QVERIFY(EsptoolInstaller(home.environment()).prepare().path);
    QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList{QFileInfo(stale).fileName()});
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

void TestEsptoolInstaller::reportsAFailedReplacementAndCleansUp()
{
    FakeEsptoolHome home;
    writeFile(home.resourcePath(u"esptool_amd64"_s), "build");
    // A non-empty folder in the way: the rename over it fails after the copy was made.
    writeFile(QDir(home.installedEsptoolPath()).filePath(u"keep"_s), "x");

    const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();
    QVERIFY(!outcome.path);
    QVERIFY2(outcome.failureLine.startsWith(u"Failed to prepare esptool: Cannot move "_s),
             qPrintable(outcome.failureLine));
    QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList());
    QVERIFY(QFileInfo::exists(QDir(home.installedEsptoolPath()).filePath(u"keep"_s)));
}

void TestEsptoolInstaller::reportsFailedModeChanges_data()
{
    QTest::addColumn<bool>("installedBefore");
    QTest::addColumn<QString>("failingPath");  // "dir", "tmp" or "installed"
    QTest::addColumn<QString>("operation");

    QTest::newRow("tool folder") << false << u"dir"_s << u"chmod directory"_s;
    QTest::newRow("reused copy") << true << u"installed"_s << u"chmod executable"_s;
    QTest::newRow("temporary copy") << false << u"tmp"_s << u"chmod executable"_s;
    QTest::newRow("newly installed copy") << false << u"installed"_s << u"chmod executable"_s;
}

void TestEsptoolInstaller::reportsFailedModeChanges()
{
    QFETCH(bool, installedBefore);
    QFETCH(QString, failingPath);
    QFETCH(QString, operation);

    FakeEsptoolHome home;
    writeFile(home.resourcePath(u"esptool_amd64"_s), "build");
    if (installedBefore)
        writeFile(home.installedEsptoolPath(), "BUILD");

    QString failedFor;
    EsptoolInstaller installer(home.environment());
    installer.setChmodFunction(chmodFailingFor([&](const QString& path) {
        const bool fails = (failingPath == u"dir" && path == home.toolDirectory()) ||
                           (failingPath == u"tmp" && path.endsWith(u".tmp"_s)) ||
                           (failingPath == u"installed" && path == home.installedEsptoolPath());
        if (fails)
            failedFor = path;
        return fails;
    }));

    const EsptoolInstaller::Outcome outcome = installer.prepare();
    QVERIFY(!outcome.path);
    QVERIFY(!failedFor.isEmpty());
    QCOMPARE(outcome.failureLine, u"Failed to prepare esptool: "_s + operation + u" failed for "_s +
                                      failedFor + u": Operation not permitted\n"_s);
    QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList());
}

void TestEsptoolInstaller::reportsACopyThatIsNotExecutable()
{
    FakeEsptoolHome home;
    writeFile(home.resourcePath(u"esptool_amd64"_s), "build", 0644);
    EsptoolInstaller installer(home.environment());
    installer.setChmodFunction(
        [](const QString&, mode_t) { return 0; });  // "succeeds", changes nothing

    const EsptoolInstaller::Outcome outcome = installer.prepare();
    QVERIFY(!outcome.path);
    QCOMPARE(outcome.failureLine,
             u"Prepared esptool is not executable: "_s + home.installedEsptoolPath() + u'\n');
}

QTEST_GUILESS_MAIN(TestEsptoolInstaller)
#include "tst_esptoolinstaller.moc"
