#include "flash/EsptoolInstaller.h"
#include "support/fakeesptool/FakeEsptoolHome.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

using tavix::EsptoolInstaller;

namespace {

// Where one preparation puts things; the temporary copy's name is known once it is made.
struct Places
{
    QString toolFolder;
    QString installed;
    QString temporary;
};
// Stands for chmod(2) in a run, knowing the run's places.
using FakeChmod = std::function<int(const QString& path, mode_t mode, const Places& places)>;
// The failure line a run is expected to give.
using FailureLine = std::function<QString(const Places& places)>;
using Setup = std::function<void(const FakeEsptoolHome& home)>;

}  // namespace

Q_DECLARE_METATYPE(FakeChmod)
Q_DECLARE_METATYPE(FailureLine)
Q_DECLARE_METATYPE(Setup)

namespace {

ino_t inodeOf(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_ino;
}

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
    void choosesTheBuildForTheProcessor_data()
    {
        QTest::addColumn<QString>("machine");
        QTest::addColumn<QString>("bundled");   // the one build among the resources
        QTest::addColumn<QString>("expected");  // the build prepared; empty: none
        QTest::newRow("macOS on Apple silicon")
            << u"arm64"_s << u"esptool_arm64"_s << u"esptool_arm64"_s;
        QTest::newRow("Linux on 64-bit Arm")
            << u"aarch64"_s << u"esptool_arm64"_s << u"esptool_arm64"_s;
        QTest::newRow("32-bit Arm") << u"armv7l"_s << u"esptool_amd64"_s << u"esptool_amd64"_s;
        QTest::newRow("case matters") << u"ARM64"_s << u"esptool_amd64"_s << u"esptool_amd64"_s;
        QTest::newRow("only the other build") << u"x86_64"_s << u"esptool_arm64"_s << QString();
    }

    void choosesTheBuildForTheProcessor()
    {
        QFETCH(QString, machine);
        QFETCH(QString, bundled);
        QFETCH(QString, expected);
        FakeEsptoolHome home(machine);
        home.addEsptool(bundled);
        const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();
        QCOMPARE(outcome.failureLine, QString());
        QCOMPARE(outcome.path.has_value(), !expected.isEmpty());
        // The tool folder holds that build alone, or nothing at all.
        QCOMPARE(QDir(home.toolDirectory()).entryList(QDir::Files).join(u' '), expected);
        QCOMPARE(QFileInfo(outcome.path.value_or(QString())).fileName(), expected);
    }

    void locatesResourcesInOrder()
    {
        FakeEsptoolHome home;
        tavix::EsptoolEnvironment environment = home.environment();
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

    // The copy is made anew whenever it differs from the resource in any byte, and kept otherwise.
    void installsOrReusesTheCopy_data()
    {
        QTest::addColumn<QString>("earlierName");  // the tool folder's file before the run
        QTest::addColumn<QByteArray>("earlier");   // and its contents
        QTest::addColumn<bool>("kept");            // the same file afterwards, not a new copy

        const QByteArray resource = "#!/bin/sh\nexit 0\n";
        QTest::newRow("fresh, beside the other processor's build")
            << u"esptool_arm64"_s << "#!/bin/sh\nexit 1\n"_ba << false;
        QTest::newRow("the same contents are kept") << u"esptool_amd64"_s << resource << true;
        // An update that changes one character keeps the size: the old copy must not run on.
        QTest::newRow("the same size with other contents is replaced")
            << u"esptool_amd64"_s << "#!/bin/sh\nexit 1\n"_ba << false;
        QTest::newRow("another size is replaced") << u"esptool_amd64"_s << "old build"_ba << false;
    }

    void installsOrReusesTheCopy()
    {
        QFETCH(QString, earlierName);
        QFETCH(QByteArray, earlier);
        QFETCH(bool, kept);

        FakeEsptoolHome home;
        const QByteArray resource = "#!/bin/sh\nexit 0\n";
        writeFile(home.resourcePath(u"esptool_amd64"_s), resource, 0644);
        writeFile(QDir(home.toolDirectory()).filePath(earlierName), earlier, 0600);
        const ino_t before = inodeOf(home.installedEsptoolPath());
        // Another run's copy, cut short: not this run's to remove.
        const QString stale = u".esptool_amd64.0000-INTERRUPTED.tmp"_s;
        writeFile(QDir(home.toolDirectory()).filePath(stale), "half a copy");
        const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();

        QCOMPARE(outcome.path, home.installedEsptoolPath());
        QCOMPARE(outcome.failureLine, QString());
        QCOMPARE(contentOf(home.installedEsptoolPath()), resource);
        QCOMPARE(inodeOf(home.installedEsptoolPath()) == before, kept);
        QCOMPARE(modeOf(home.installedEsptoolPath()), mode_t(0755));
        QCOMPARE(modeOf(home.toolDirectory()), mode_t(0755));
        QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList{stale});
    }

    void fallsBackToTheTemporaryFolder()
    {
        FakeEsptoolHome home;
        home.addEsptool(u"esptool_amd64"_s);
        tavix::EsptoolEnvironment environment = home.environment();
        environment.applicationSupportDirectory.clear();
        const QString expected = QDir(environment.temporaryDirectory)
                                     .filePath(u"Tavix Flash Tool/esptool/esptool_amd64"_s);

        EsptoolInstaller installer(environment);
        QCOMPARE(installer.preparedEsptoolDirectory(),
                 QDir(environment.temporaryDirectory).filePath(u"Tavix Flash Tool/esptool"_s));
        QCOMPARE(installer.prepare().path, expected);
        QCOMPARE(modeOf(expected), mode_t(0755));
    }

    // Each step whose failure stops a preparation, and the one line that says so.
    void reportsWhatStoppedIt_data()
    {
        QTest::addColumn<Setup>("setUp");
        QTest::addColumn<FakeChmod>("chmod");
        QTest::addColumn<FailureLine>("failure");  // how the line starts

        const Setup nothing = [](const FakeEsptoolHome&) {};
        // An installed copy that equals the resource: it is reused, not copied again.
        const Setup reusable = [](const FakeEsptoolHome& home) {
            writeFile(home.installedEsptoolPath(), "build");
        };
        const auto refusedFor = [](QString Places::*place) -> FakeChmod {
            return [place](const QString& path, mode_t mode, const Places& places) {
                errno = EPERM;
                return path == places.*place ? -1
                                             : ::chmod(QFile::encodeName(path).constData(), mode);
            };
        };
        const auto failedFor = [](const QString& operation, QString Places::*place) -> FailureLine {
            return [operation, place](const Places& places) {
                return u"Failed to prepare esptool: %1 failed for %2: Operation not permitted\n"_s
                    .arg(operation, places.*place);
            };
        };
        QTest::newRow("tool folder's mode") << nothing << refusedFor(&Places::toolFolder)
                                            << failedFor(u"chmod directory"_s, &Places::toolFolder);
        QTest::newRow("reused copy's mode") << reusable << refusedFor(&Places::installed)
                                            << failedFor(u"chmod executable"_s, &Places::installed);
        QTest::newRow("temporary copy's mode")
            << nothing << refusedFor(&Places::temporary)
            << failedFor(u"chmod executable"_s, &Places::temporary);
        QTest::newRow("new copy's mode") << nothing << refusedFor(&Places::installed)
                                         << failedFor(u"chmod executable"_s, &Places::installed);
        QTest::newRow("a mode change that changes nothing")
            << nothing << FakeChmod([](const QString&, mode_t, const Places&) { return 0; })
            << FailureLine([](const Places& places) {
                   return u"Prepared esptool is not executable: "_s + places.installed + u'\n';
               });
    }

    void reportsWhatStoppedIt()
    {
        QFETCH(Setup, setUp);
        QFETCH(FakeChmod, chmod);
        QFETCH(FailureLine, failure);

        FakeEsptoolHome home;
        writeFile(home.resourcePath(u"esptool_amd64"_s), "build", 0644);
        setUp(home);
        Places places{home.toolDirectory(), home.installedEsptoolPath(), {}};
        EsptoolInstaller installer(home.environment());
        installer.setChmodFunction([&](const QString& path, mode_t mode) {
            if (path.endsWith(u".tmp"_s))
                places.temporary = path;
            return chmod(path, mode, places);
        });

        const EsptoolInstaller::Outcome outcome = installer.prepare();
        QVERIFY(!outcome.path);
        QCOMPARE(outcome.failureLine, failure(places));
        QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList());
    }

    // A non-empty folder where the copy goes: the rename over it fails after the copy was made, and
    // the folder stays as it was.
    void leavesWhatStandsInTheWay()
    {
        FakeEsptoolHome home;
        writeFile(home.resourcePath(u"esptool_amd64"_s), "build", 0644);
        const QString keep = QDir(home.installedEsptoolPath()).filePath(u"keep"_s);
        writeFile(keep, "x");

        const EsptoolInstaller::Outcome outcome = EsptoolInstaller(home.environment()).prepare();
        QVERIFY(!outcome.path);
        QVERIFY2(outcome.failureLine.startsWith(u"Failed to prepare esptool: Cannot move "_s),
                 qPrintable(outcome.failureLine));
        QVERIFY2(outcome.failureLine.contains(u" to "_s + home.installedEsptoolPath() + u": "_s),
                 qPrintable(outcome.failureLine));
        QCOMPARE(outcome.failureLine.count(u'\n'), 1);
        QCOMPARE(temporaryFilesIn(home.toolDirectory()), QStringList());
        QCOMPARE(contentOf(keep), "x"_ba);
    }
};

QTEST_GUILESS_MAIN(TestEsptoolInstaller)
#include "tst_esptoolinstaller.moc"
