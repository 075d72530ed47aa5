// tallyframe-server: runs the reference reporting service, or, given a command, changes its data
// folder for scripts (add-company, queue, publish) without starting a server.
#include "BuildInfo.h"
#include "TallyServer.h"
#include "update/UpdateSignature.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "tallyframe-server: %s\n", qPrintable(message));
    return 1;
}

void print(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

#ifdef Q_OS_UNIX
// SIGINT and SIGTERM end the event loop through a socket pair: a signal handler may only write.
int signalFds[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalFds[0], &byte, 1);
}

void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalFds) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalFds[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app]() {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(signalFds[1], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
#else
void quitOnSignals(QCoreApplication&) {}
#endif

int addCompany(TallyStore& store, const QStringList& args)
{
    if (args.size() < 4 || args.size() > 6)
        return fail("usage: add-company NAME DEVICE CONNSTR [TELP] [APPHIDE]");
    const QString name = args.at(1), device = args.at(2);
    if (name.trimmed().isEmpty() || device.isEmpty())
        return fail("NAME and DEVICE must not be empty");
    if (store.companyByName(name))
        return fail(QStringLiteral("the company name \"%1\" is taken").arg(name));
    if (store.companyByDevice(device))
        return fail(QStringLiteral("the device \"%1\" is registered already").arg(device));
    bool isNumber = true;
    const int appHide = args.size() > 5 ? args.at(5).toInt(&isNumber) : 0;
    if (!isNumber || (appHide != 0 && appHide != 1))
        return fail("APPHIDE must be 0 or 1");
    const auto company = store.createCompany(name, device, args.value(4), args.at(3), appHide);
    if (company.id == 0)
        return fail("the company could not be stored");
    print(company.apiKey);
    return 0;
}

int queue(TallyStore& store, const QStringList& args)
{
    if (args.size() != 5)
        return fail("usage: queue APIKEY SQL FILENAME TITLE");
    const auto company = store.companyByApiKey(args.at(1));
    if (!company)
        return fail("unknown API key");
    // An empty SQL or file name would have the agent ask its user on every poll.
    if (args.at(2).trimmed().isEmpty() || args.at(3).trimmed().isEmpty())
        return fail("SQL and FILENAME must not be empty");
    const qint64 urut = store.queueRequest(company->id, args.at(2), args.at(3), args.at(4));
    if (urut == 0)
        return fail("the request could not be stored");
    print(QString::number(urut));
    return 0;
}

// Writes a file that only its owner may read, from the first byte on.
bool writePrivateFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return false;
    file.write(bytes);
    return file.commit();
}

int keygen(const QStringList& args)
{
    if (args.size() != 2)
        return fail("usage: keygen DIR");
    const QDir dir(args.at(1));
    const QString secretPath = dir.filePath("update.key");
    const QString publicPath = dir.filePath("update.pub");
    // A lost secret key would orphan every agent built with its public key.
    if (QFileInfo::exists(secretPath) || QFileInfo::exists(publicPath))
        return fail(QStringLiteral("%1 holds a key already").arg(dir.path()));
    QByteArray publicKey, secretKey;
    if (!QDir().mkpath(dir.path()) || !GenerateUpdateKeys(&publicKey, &secretKey))
        return fail("cannot make a key");
    if (!writePrivateFile(secretPath, secretKey.toBase64() + '\n'))
        return fail(QStringLiteral("cannot write %1").arg(secretPath));
    QSaveFile pub(publicPath);
    if (!pub.open(QIODevice::WriteOnly) || pub.write(publicKey.toBase64() + '\n') < 0 ||
        !pub.commit())
        return fail(QStringLiteral("cannot write %1").arg(publicPath));
    print(QString::fromLatin1(publicKey.toBase64()));
    return 0;
}

int publish(TallyStore& store, const QStringList& args, const QString& keyFile,
            const QString& version)
{
    if (args.size() < 2 || args.size() > 3)
        return fail("usage: publish FILE [NAME] [--key KEYFILE --version X.Y.Z]");
    const QFileInfo source(args.at(1));
    const QString name = args.value(2, source.fileName());
    if (!source.isFile())
        return fail(QStringLiteral("no such file: %1").arg(args.at(1)));
    if (name.contains('/') || name.contains('\\') || name.contains(".."))
        return fail("NAME must be a plain file name");
    if (!keyFile.isEmpty() && version.isEmpty())
        return fail("--key needs --version X.Y.Z");
    const QString target = QDir(store.appDir()).filePath(name);
    const QString signatureFile = target + QStringLiteral(".sig");

    QByteArray signature;
    if (!keyFile.isEmpty()) {
        QFile key(keyFile);
        if (!key.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(keyFile));
        signature =
            SignBuild(source.filePath(), version, QByteArray::fromBase64(key.readAll().trimmed()));
        if (signature.isEmpty())
            return fail("cannot sign: the key or the version (X.Y.Z) is not usable");
    }
    // The signature goes first and the build appears whole under its name: an agent that sees
    // the new build's time never finds it beside the old signature.
    if (signature.isEmpty()) {
        QFile::remove(signatureFile);
    } else {
        QSaveFile sig(signatureFile);
        if (!sig.open(QIODevice::WriteOnly) ||
            sig.write(SignatureFileText({version, signature})) < 0 || !sig.commit())
            return fail(QStringLiteral("cannot write %1").arg(signatureFile));
    }
    const QString part = target + QStringLiteral(".publishing");
    QFile::remove(part);
    if (!QFile::copy(source.filePath(), part) || !QFile::setPermissions(part, source.permissions()))
        return fail(QStringLiteral("cannot copy to %1").arg(target));
    QFile::remove(target);
    if (!QFile::rename(part, target))
        return fail(QStringLiteral("cannot copy to %1").arg(target));
    print(target);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tallyframe-server");
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLYFRAME_SERVER_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reference reporting service of Q17 Tallyframe.\n\n"
        "Commands (change the data folder and exit, no server is started):\n"
        "  add-company NAME DEVICE CONNSTR [TELP] [APPHIDE]   prints the new API key\n"
        "  queue APIKEY SQL FILENAME TITLE                    prints the new request's Urut\n"
        "  publish FILE [NAME] [--key KEYFILE --version X.Y.Z]\n"
        "                                                     copies an update file into app/,\n"
        "                                                     signed with the key when given\n"
        "  keygen DIR                                         writes DIR/update.key (secret) and\n"
        "                                                     DIR/update.pub (public key)");
    parser.addHelpOption();
    // --version names what publish signs; alone, or as -v, it still shows the version.
    const QCommandLineOption showVersionOption("v", "Displays version information.");
    parser.addOption(showVersionOption);
    if (app.arguments().size() == 2 && app.arguments().at(1) == QLatin1String("--version"))
        parser.showVersion();
    const QCommandLineOption listenOption("listen", "Address to listen on (default 127.0.0.1).",
                                          "ADDR", "127.0.0.1");
    const QCommandLineOption portOption("port", "Port to listen on; 0 picks a free one.", "N", "0");
    const QCommandLineOption dataOption("data", "Data folder.", "DIR");
    const QCommandLineOption rateOption(
        "fault-rate", "Fault mode (loopback only): share of API requests that get a fault.", "R");
    const QCommandLineOption faultsOption(
        "faults", "Fault kinds: " + FaultConfig::allKinds().join(',') + " (default: all).",
        "KINDS");
    const QCommandLineOption delayOption("fault-delay", "Seconds the delay fault waits.", "S",
                                         "20");
    const QCommandLineOption seedOption("seed", "Seed of the fault choice.", "N");
    const QCommandLineOption maxBodyOption(
        "max-body-mib", "Largest request body (a report upload) in MiB; larger ones get 413.",
        "MIB", QString::number(ConnectionLimits().maxBodyBytes >> 20));
    const QCommandLineOption maxConnectionsOption(
        "max-connections", "Open connections allowed per client address.", "N",
        QString::number(ConnectionLimits().maxConnectionsPerAddress));
    const QCommandLineOption keyOption("key", "publish: the secret key that signs the build.",
                                       "KEYFILE");
    const QCommandLineOption versionOption("version", "publish: the version the signature names.",
                                           "X.Y.Z");
    const QCommandLineOption controlOption(
        "fault-control", "Lets POST /api/_faults change the fault mode (tests; loopback only).");
    parser.addOptions({listenOption, portOption, dataOption, rateOption, faultsOption, delayOption,
                       seedOption, maxBodyOption, maxConnectionsOption, keyOption, versionOption,
                       controlOption});
    parser.addPositionalArgument("command",
                                 "add-company, queue, publish or keygen, with its arguments.",
                                 "[command args...]");
    parser.process(app);
    if (parser.isSet(showVersionOption))
        parser.showVersion();

    const QString dataDir = parser.isSet(dataOption)
                                ? parser.value(dataOption)
                                : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QStringList args = parser.positionalArguments();

    if (args.value(0) == QLatin1String("keygen"))
        return keygen(args);
    if (!args.isEmpty()) {
        TallyStore store(dataDir);
        QString error;
        if (!store.open(&error))
            return fail(error);
        const QString command = args.first();
        if (command == QLatin1String("add-company"))
            return addCompany(store, args);
        if (command == QLatin1String("queue"))
            return queue(store, args);
        if (command == QLatin1String("publish"))
            return publish(store, args, parser.value(keyOption), parser.value(versionOption));
        return fail(QStringLiteral("unknown command \"%1\"").arg(command));
    }

    const QString listenText = parser.value(listenOption);
    const QHostAddress address(listenText == QLatin1String("localhost") ? QString("127.0.0.1")
                                                                        : listenText);
    if (address.isNull())
        return fail(QStringLiteral("not an address: %1").arg(listenText));
    bool isNumber = false;
    const uint port = parser.value(portOption).toUInt(&isNumber);
    if (!isNumber || port > 65535)
        return fail("--port needs a number from 0 to 65535");

    FaultConfig faults;
    if (parser.isSet(rateOption)) {
        faults.rate = parser.value(rateOption).toDouble(&isNumber);
        if (!isNumber || faults.rate < 0.0 || faults.rate > 1.0)
            return fail("--fault-rate needs a number from 0 to 1");
        QString error;
        if (!FaultConfig::parseKinds(parser.value(faultsOption), &faults.kinds, &error))
            return fail(error);
        if (!parser.isSet(faultsOption))
            faults.kinds =
                QSet<QString>(FaultConfig::allKinds().cbegin(), FaultConfig::allKinds().cend());
        faults.delaySeconds = parser.value(delayOption).toInt(&isNumber);
        if (!isNumber || faults.delaySeconds < 0)
            return fail("--fault-delay needs a whole number of seconds");
        faults.seed = parser.isSet(seedOption) ? parser.value(seedOption).toUInt(&isNumber)
                                               : QRandomGenerator::system()->generate();
        if (!isNumber)
            return fail("--seed needs a whole number");
        if (!address.isLoopback())
            return fail("fault mode is only available on a loopback address");
        std::fprintf(stderr, "tallyframe-server: fault mode, rate %g, seed %u\n", faults.rate,
                     faults.seed);
    }

    ConnectionLimits limits;
    limits.maxBodyBytes = parser.value(maxBodyOption).toLongLong(&isNumber) << 20;
    if (!isNumber || limits.maxBodyBytes <= 0)
        return fail("--max-body-mib needs a positive whole number");
    limits.maxConnectionsPerAddress = parser.value(maxConnectionsOption).toInt(&isNumber);
    if (!isNumber || limits.maxConnectionsPerAddress <= 0)
        return fail("--max-connections needs a positive whole number");

    TallyServer server(dataDir);
    server.setLimits(limits);
    server.setFaults(faults);
    if (parser.isSet(controlOption)) {
        if (!address.isLoopback())
            return fail("--fault-control is only available on a loopback address");
        server.enableFaultControl();
    }
    if (!server.listen(address, quint16(port)))
        return fail(server.errorString());
    quitOnSignals(app);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? '[' + address.toString() + ']'
                             : address.toString();
    print(QStringLiteral("Listening on http://%1:%2").arg(host).arg(server.port()));
    const int status = app.exec();
    std::fprintf(stderr, "%s", qPrintable(server.statsText()));
    return status;
}
