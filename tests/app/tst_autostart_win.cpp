// The auto-start entry on Windows: the Run value under the machine's key, the per-user key when
// the machine's key refuses the write, removing both, and the error numbers. Runs in the test's
// own Wine prefix, whose registry it changes.
#include "app/AppControl.h"
#include "app/AutoStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTest>

#include <windows.h>

#include <sddl.h>

namespace {

const QString kMachineRun =
    QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kUserRun =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const wchar_t kRunSubKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const QString kBase = QStringLiteral("Q17-Tallyframe");
constexpr qint32 kAccessDenied = -2147024891;
constexpr qint32 kNotFound = -2147024894;
constexpr qint32 kUntouched = 4711;

QString valueIn(const QString& key)
{
    return QSettings(key, QSettings::NativeFormat).value(kBase).toString();
}
bool hasValue(const QString& key)
{
    return QSettings(key, QSettings::NativeFormat).contains(kBase);
}
void setValue(const QString& key, const QString& data)
{
    QSettings run(key, QSettings::NativeFormat);
    run.setValue(kBase, data);
    run.sync();
}
void removeValue(const QString& key)
{
    QSettings run(key, QSettings::NativeFormat);
    run.remove(kBase);
    run.sync();
}

// For its life the machine's Run key may be read but not written, as for a user without
// administrator rights. Wine's registry may ignore that; refused() says whether it holds.
class MachineRunRefused
{
public:
    MachineRunRefused()
    {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunSubKey, 0, READ_CONTROL | WRITE_DAC, &m_key) !=
            ERROR_SUCCESS)
            return;
        DWORD size = 0;
        RegGetKeySecurity(m_key, DACL_SECURITY_INFORMATION, nullptr, &size);
        m_saved.resize(size);
        if (RegGetKeySecurity(m_key, DACL_SECURITY_INFORMATION, m_saved.data(), &size) !=
            ERROR_SUCCESS)
            return;
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        // Everyone: read, and change the permissions back.
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"D:P(A;;KRWD;;;WD)", SDDL_REVISION_1, &readOnly, nullptr))
            return;
        m_applied = RegSetKeySecurity(m_key, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
        LocalFree(readOnly);
    }
    ~MachineRunRefused()
    {
        if (m_applied)
            RegSetKeySecurity(m_key, DACL_SECURITY_INFORMATION, m_saved.data());
        if (m_key)
            RegCloseKey(m_key);
    }
    bool refused() const
    {
        if (!m_applied)
            return false;
        HKEY key = nullptr;
        const LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunSubKey, 0, KEY_SET_VALUE, &key);
        if (rc == ERROR_SUCCESS)
            RegCloseKey(key);
        return rc == ERROR_ACCESS_DENIED;
    }

private:
    HKEY m_key = nullptr;
    QByteArray m_saved;
    bool m_applied = false;
};

} // namespace

class TestAutoStartWin : public QObject
{
    Q_OBJECT

private:
    const ExeIdentity m_exe{QStringLiteral("C:\\Q17"), kBase};

private slots:
    void init()
    {
        removeValue(kMachineRun);
        removeValue(kUserRun);
    }
    void cleanup() { init(); }

    void machineValueQuotesTheExecutable_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("data");
        QTest::newRow("plain") << "C:\\Q17"
                               << "\"C:\\Q17\\Q17-Tallyframe.exe\" --auto-start";
        QTest::newRow("blanks") << "C:\\Users\\Ani Budi\\AppData\\Local\\Programs\\Q17 Tallyframe"
                                << "\"C:\\Users\\Ani Budi\\AppData\\Local\\Programs\\Q17 "
                                   "Tallyframe\\Q17-Tallyframe.exe\" --auto-start";
    }
    void machineValueQuotesTheExecutable()
    {
        QFETCH(QString, folder);
        QFETCH(QString, data);
        const ExeIdentity exe{folder, kBase};
        // A per-user value of an earlier start without rights would start a second agent.
        setValue(kUserRun, QStringLiteral("\"D:\\old\\Q17-Tallyframe.exe\" --auto-start"));
        qint32 error = kUntouched;
        SetAutoStart(true, error, exe);
        QCOMPARE(error, kUntouched);
        QCOMPARE(valueIn(kMachineRun), data);
        QVERIFY(!hasValue(kUserRun));
        QCOMPARE(AutoStartCommand(exe), data);
        QCOMPARE(AutoStartLocation(exe), kMachineRun + "\\Q17-Tallyframe");
        QVERIFY(AutoStartEntryExists(exe));
    }

    void entryNamesTheRunningProgram()
    {
        // The real identity: this test's own .exe in its own folder.
        const QString running = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
        QCOMPARE(ExeBaseName(), QStringLiteral("tst_autostart_win"));
        QCOMPARE(AutoStartCommand(), "\"" + running + "\" --auto-start");
    }

    void userValueWhenTheMachineKeyRefuses()
    {
        MachineRunRefused guard;
        if (!guard.refused())
            QSKIP("this registry lets everyone write the machine's Run key (Wine does)");
        qint32 error = kUntouched;
        SetAutoStart(true, error, m_exe);
        QCOMPARE(error, kUntouched); // the entry exists: the agent comes up at the next log-on
        QVERIFY(!hasValue(kMachineRun));
        QCOMPARE(valueIn(kUserRun), QStringLiteral("\"C:\\Q17\\Q17-Tallyframe.exe\" --auto-start"));
        QVERIFY(AutoStartEntryExists(m_exe));

        // Removing: the user's value goes, the machine's key cannot be written, nothing was there.
        error = kUntouched;
        SetAutoStart(false, error, m_exe);
        QVERIFY(!hasValue(kUserRun));
        QCOMPARE(error, kUntouched);
    }

    void machineValueLeftWhenTheKeyRefusesRemoval()
    {
        setValue(kMachineRun, QStringLiteral("\"C:\\Q17\\Q17-Tallyframe.exe\" --auto-start"));
        MachineRunRefused guard;
        if (!guard.refused())
            QSKIP("this registry lets everyone write the machine's Run key (Wine does)");
        qint32 error = kUntouched;
        SetAutoStart(false, error, m_exe);
        QCOMPARE(error, kAccessDenied);
        QVERIFY(hasValue(kMachineRun));
    }

    void removingClearsBoth_data()
    {
        QTest::addColumn<bool>("machine");
        QTest::addColumn<bool>("user");
        QTest::addColumn<qint32>("error");
        QTest::newRow("both") << true << true << kUntouched;
        QTest::newRow("machine only") << true << false << kUntouched;
        QTest::newRow("user only") << false << true << kUntouched;
        QTest::newRow("none") << false << false << kNotFound;
    }
    void removingClearsBoth()
    {
        QFETCH(bool, machine);
        QFETCH(bool, user);
        QFETCH(qint32, error);
        if (machine)
            setValue(kMachineRun, QStringLiteral("x"));
        if (user)
            setValue(kUserRun, QStringLiteral("y"));
        // The first-start rule reads either one.
        QCOMPARE(AutoStartEntryExists(m_exe), machine || user);
        qint32 got = kUntouched;
        SetAutoStart(false, got, m_exe);
        QCOMPARE(got, error);
        QVERIFY(!hasValue(kMachineRun));
        QVERIFY(!hasValue(kUserRun));
        QVERIFY(!AutoStartEntryExists(m_exe));
    }

    void otherProgramsValuesStay()
    {
        QSettings run(kMachineRun, QSettings::NativeFormat);
        run.setValue(QStringLiteral("Other"), QStringLiteral("other.exe"));
        run.sync();
        qint32 error = 0;
        SetAutoStart(true, error, m_exe);
        SetAutoStart(false, error, m_exe);
        QCOMPARE(QSettings(kMachineRun, QSettings::NativeFormat).value("Other").toString(),
                 QStringLiteral("other.exe"));
        run.remove(QStringLiteral("Other"));
    }
};

QTEST_GUILESS_MAIN(TestAutoStartWin)
#include "tst_autostart_win.moc"
