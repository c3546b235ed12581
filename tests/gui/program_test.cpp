// The vtbench32 program itself: its window starts from the command line,
// a second copy ends at once and silently, and --help answers.
#include "core/instance.hpp"

#include <vntr/platform/paths.hpp>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void helpNeedsNoWindow();
    void aSecondCopyEndsSilently();
    void theFirstCopyHoldsTheLock();

private:
    QProcess *Start(const QStringList &arguments);
    QTemporaryDir home_;
    QProcessEnvironment env_;
    std::string folder_; // the program's temporary folder under TMPDIR
};

void ProgramTest::initTestCase() {
    QVERIFY(home_.isValid());
    QDir(home_.path()).mkpath("tmp");
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("TMPDIR", home_.path() + "/tmp");
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    env_.insert("VNTR_USER_HIVE", home_.path() + "/user.hive");
    env_.insert("XDG_CONFIG_HOME", home_.path());
    qputenv("TMPDIR", (home_.path() + "/tmp").toUtf8());
    const auto folder = vntr::platform::UserTempDirectory();
    QVERIFY(folder.has_value());
    folder_ = *folder;
}

QProcess *ProgramTest::Start(const QStringList &arguments) {
    auto *process = new QProcess(this);
    process->setProcessEnvironment(env_);
    process->start(VNTR_TEST_VTBENCH32, arguments);
    return process;
}

void ProgramTest::helpNeedsNoWindow() {
    QProcess *help = Start({"--help"});
    QVERIFY(help->waitForFinished(20000));
    QCOMPARE(help->exitCode(), 0);
    QVERIFY(help->readAllStandardOutput().contains("usage: vtbench32 [SESSION.qbl]"));
}

void ProgramTest::aSecondCopyEndsSilently() {
    // Another copy holds the temporary folder.
    const auto held = vntr::evaluator::InstanceLock::Acquire(folder_);
    QVERIFY(held);
    QProcess *second = Start({});
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardOutput(), QByteArray());
    QCOMPARE(second->readAllStandardError(), QByteArray());
}

void ProgramTest::theFirstCopyHoldsTheLock() {
    QProcess *first = Start({});
    QVERIFY(first->waitForStarted(10000));
    const std::string &folder = folder_;
    // Once the window runs, the lock is taken.
    QTRY_VERIFY_WITH_TIMEOUT(!vntr::evaluator::InstanceLock::Acquire(folder), 20000);
    QCOMPARE(first->state(), QProcess::Running);
    QProcess *second = Start({});
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);
    first->kill();
    QVERIFY(first->waitForFinished(10000));
    QVERIFY(vntr::evaluator::InstanceLock::Acquire(folder) != nullptr);
}

QTEST_GUILESS_MAIN(ProgramTest)
#include "program_test.moc"
