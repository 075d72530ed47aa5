// Decisions of the report pipeline that need no service and no database: reading requests, the
// footer, the status line's rules, the flag body, the escaping of the report document, what a
// connection string may load and what the owner's guard lets run.
#include "pipeline/DriverCheck.h"
#include "pipeline/OwnerGuard.h"
#include "pipeline/ReportFooter.h"
#include "pipeline/ReportJsonWriter.h"
#include "pipeline/ReportRequest.h"
#include "pipeline/ReportService.h"
#include "pipeline/ResponseLabel.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestPipelineRules : public QObject
{
    Q_OBJECT

private slots:
    void lineEnds_data();
    void lineEnds();
    void parseRequest_data();
    void parseRequest();
    void footerSequence();
    void randomSuffix_data();
    void randomSuffix();
    void footerText();
    void labelLook_data();
    void labelLook();
    void labelRemedy_data();
    void labelRemedy();
    void flagBody_data();
    void flagBody();
    void quotedStrings_data();
    void quotedStrings();
    void surrogatePairAcrossPieces();
    void utf8Values_data();
    void utf8Values();
    void smallPiecesGiveSameBytes();
    void parseConnectionString_data();
    void parseConnectionString();
    void connectionStringAsSent_data();
    void connectionStringAsSent();
    void connectionStringRefusal_data();
    void connectionStringRefusal();
    void guardStatement_data();
    void guardStatement();
    void guardSettings();
};

void TestPipelineRules::lineEnds_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("bare LF") << "a\nb\n\nc"
                             << "a\r\nb\r\n\r\nc";
    QTest::newRow("CR LF stays") << "a\r\nb\r\n\r\nc"
                                 << "a\r\nb\r\n\r\nc";
    QTest::newRow("mixed") << "a\r\n\nb"
                           << "a\r\n\r\nb";
    QTest::newRow("lone CR untouched") << "a\rb"
                                       << "a\rb";
    QTest::newRow("leading LF") << "\nx"
                                << "\r\nx";
    QTest::newRow("empty") << ""
                           << "";
}

void TestPipelineRules::lineEnds()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(NormalizeLineEnds(in), out);
}

void TestPipelineRules::parseRequest_data()
{
    QTest::addColumn<QString>("raw"); // as the service sends it, before normalising
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("urut");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("title");

    const int ok = ParsedRequest::Ok, bad = ParsedRequest::Malformed,
              none = ParsedRequest::NotARequest;
    QTest::newRow("LF line ends")
        << "Urut:42\n\nFileName:sales_daily\n\nSQLstr:SELECT *\nFROM s\n\nRptTitle: Daily sales"
        << ok << 42 << "sales_daily"
        << "SELECT *\r\nFROM s"
        << "Daily sales";
    QTest::newRow("CR LF line ends split the same way")
        << "Urut:42\r\n\r\nFileName:sales_daily\r\n\r\nSQLstr:SELECT *\r\nFROM s\r\n\r\n"
           "RptTitle: Daily sales"
        << ok << 42 << "sales_daily"
        << "SELECT *\r\nFROM s"
        << "Daily sales";
    QTest::newRow("labels are skipped by length, not read")
        << "Urut:7\n\nxxxxxxxxxf.csv\n\nyyyyyyyselect 1\n\nzzzzzzzzzzT" << ok << 7 << "f.csv"
        << "select 1"
        << "T";
    QTest::newRow("blocks only as long as their labels give empty values")
        << "Urut:7\n\nFileName:\n\nSQLstr:\n\nRptTitle: " << ok << 7 << ""
        << ""
        << "";
    QTest::newRow("blocks shorter than their labels") << "Urut:7\n\nF\n\nS\n\nR" << ok << 7 << ""
                                                      << ""
                                                      << "";
    QTest::newRow("blanks in values are kept")
        << "Urut:1\n\nFileName: f \n\nSQLstr: select 1 \n\nRptTitle:  T " << ok << 1 << " f "
        << " select 1 "
        << " T ";
    QTest::newRow("blocks after the title are ignored")
        << "Urut:3\n\nFileName:f\n\nSQLstr:s\n\nRptTitle: t\n\nextra" << ok << 3 << "f"
        << "s"
        << "t";
    QTest::newRow("negative number")
        << "Urut:-5\n\nFileName:f\n\nSQLstr:s\n\nRptTitle: t" << ok << -5 << "f"
        << "s"
        << "t";
    QTest::newRow("blanks around the number")
        << "Urut: 12 \n\nFileName:f\n\nSQLstr:s\n\nRptTitle: t" << ok << 12 << "f"
        << "s"
        << "t";
    QTest::newRow("three blocks") << "Urut:3\n\nFileName:f\n\nSQLstr:s" << bad << 0 << ""
                                  << ""
                                  << "";
    QTest::newRow("number only") << "Urut:3" << bad << 0 << ""
                                 << ""
                                 << "";
    QTest::newRow("no number") << "Urut:\n\nFileName:f\n\nSQLstr:s\n\nRptTitle: t" << bad << 0 << ""
                               << ""
                               << "";
    QTest::newRow("not a number") << "Urut:4x\n\nFileName:f\n\nSQLstr:s\n\nRptTitle: t" << bad << 0
                                  << ""
                                  << ""
                                  << "";
    QTest::newRow("beyond 32 bits")
        << "Urut:2147483648\n\nFileName:f\n\nSQLstr:s\n\nRptTitle: t" << bad << 0 << ""
        << ""
        << "";
    QTest::newRow("lower-case urut is no request")
        << "urut:3\n\nFileName:f\n\nSQLstr:s\n\nRptTitle: t" << none << 0 << ""
        << ""
        << "";
    QTest::newRow("nothing") << "nothing" << none << 0 << ""
                             << ""
                             << "";
    QTest::newRow("failure text") << "[Error:-2146697211] The system cannot locate" << none << 0
                                  << ""
                                  << ""
                                  << "";
}

void TestPipelineRules::parseRequest()
{
    QFETCH(QString, raw);
    QFETCH(int, status);
    const ParsedRequest parsed = ParseReportRequest(NormalizeLineEnds(raw));
    QCOMPARE(int(parsed.status), status);
    QCOMPARE(parsed.problem.isEmpty(), status != ParsedRequest::Malformed);
    if (status != ParsedRequest::Ok)
        return;
    QTEST(int(parsed.request.Urut), "urut");
    QTEST(parsed.request.FileName, "fileName");
    QTEST(parsed.request.Sql, "sql");
    QTEST(parsed.request.Title, "title");
}

void TestPipelineRules::footerSequence()
{
    FooterRandom random;
    QCOMPARE(RandomSuffix(random.next()), QStringLiteral("7055475"));
    QCOMPARE(RandomSuffix(random.next()), QStringLiteral("533424"));
    QCOMPARE(RandomSuffix(random.next()), QStringLiteral("5795186"));
    // A new start gives the same sequence again.
    random.reset();
    QCOMPARE(RandomSuffix(random.next()), QStringLiteral("7055475"));
    QCOMPARE(random.state(), 11837123u);
}

void TestPipelineRules::randomSuffix_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("seven digits") << 0.7055475f << "7055475";
    QTest::newRow("trailing zeros dropped") << 0.5f << "5";
    QTest::newRow("rounded to seven digits") << 0.123456789f << "1234568";
    QTest::newRow("zero has no point") << 0.0f << "";
    QTest::newRow("tiny value in exponent form") << 1e-5f << "";
}

void TestPipelineRules::randomSuffix()
{
    QFETCH(float, value);
    QTEST(RandomSuffix(value), "suffix");
}

void TestPipelineRules::footerText()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(10, 15, 0));
    QCOMPARE(FooterText(when, QStringLiteral("7055475")),
             QStringLiteral("Query termutakhir pada: 2026-12-07 10:15:00 | Cx7055475"));
    footerRandom().reset();
    QCOMPARE(NextReportFooter(when), FooterText(when, QStringLiteral("7055475")));
    QCOMPARE(NextReportFooter(when), FooterText(when, QStringLiteral("533424")));
}

void TestPipelineRules::labelLook_data()
{
    using L = ResponseLabelLook;
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("colour");
    QTest::addColumn<int>("pointer");
    QTest::addColumn<bool>("hidesRegister");
    QTest::newRow("not connected") << "Tidak terhubung database!" << int(L::Red) << 99 << false;
    QTest::newRow("connected at start") << "Terhubung database." << int(L::Green) << 0 << false;
    QTest::newRow("connected for a report") << "Terhubung database" << int(L::Green) << 0 << false;
    QTest::newRow("connecting") << "Menghubungkan..." << int(L::Orange) << 0 << false;
    QTest::newRow("design caption")
        << QString(108, QLatin1Char('.')) << int(L::Orange) << 0 << false;
    QTest::newRow("get ready") << "Get ready!" << int(L::Highlight) << 0 << false;
    QTest::newRow("back") << "We're back!" << int(L::Highlight) << 0 << false;
    QTest::newRow("countdown") << "Coffee time for a next good internet connection in 29. Cheers!"
                               << int(L::Highlight) << 0 << false;
    QTest::newRow("start-up failure")
        << "[Err:-2147467259] connect failed" << int(L::Red) << 99 << true;
    QTest::newRow("start-up failure saying error")
        << "[Err:-2147467259] Driver error" << int(L::Red) << 99 << false;
    QTest::newRow("error in any case first")
        << "ERROR: x terhubung..." << int(L::Red) << 99 << false;
    QTest::newRow("not connected beats connected")
        << "TIDAK TERHUBUNG..." << int(L::Red) << 99 << false;
}

void TestPipelineRules::labelLook()
{
    QFETCH(QString, caption);
    const ResponseLabelLook look = LookOfResponseLabel(caption);
    QTEST(int(look.colour), "colour");
    QTEST(int(look.pointer), "pointer");
    QTEST(look.hidesRegisterPicture, "hidesRegister");
}

void TestPipelineRules::labelRemedy_data()
{
    using R = ResponseLabelRemedy;
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("remedy");
    QTest::newRow("api key") << "Error: invalid APIKey, company name is required"
                             << int(R::ApiKeyNotEditable);
    QTest::newRow("company name") << "error: Company Name Is Required" << int(R::RegisterCompany);
    QTest::newRow("start-up failure")
        << "[Err:-2147467259] connect failed" << int(R::AskConnectionString);
    QTest::newRow("start-up failure with error word")
        << "[err:1] Driver Error" << int(R::AskConnectionString);
    QTest::newRow("company name without error") << "company name is required" << int(R::None);
    QTest::newRow("not connected") << "Tidak terhubung database!" << int(R::None);
    QTest::newRow("poll failure") << "[Error:-2146697211] The system"
                                  << int(R::AskConnectionString);
}

void TestPipelineRules::labelRemedy()
{
    QFETCH(QString, caption);
    QTEST(int(RemedyForResponseLabel(caption)), "remedy");
}

void TestPipelineRules::flagBody_data()
{
    QTest::addColumn<int>("urut");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("request 7") << 7 << "0" << QByteArray("Flag=0&Urut=7&updateDtModified=1");
    QTest::newRow("request 42") << 42 << "0" << QByteArray("Flag=0&Urut=42&updateDtModified=1");
    QTest::newRow("negative") << -3 << "0" << QByteArray("Flag=0&Urut=-3&updateDtModified=1");
    QTest::newRow("flag as it is")
        << 1 << "a b" << QByteArray("Flag=a b&Urut=1&updateDtModified=1");
}

void TestPipelineRules::flagBody()
{
    QFETCH(int, urut);
    QFETCH(QString, flag);
    QTEST(UpdateFlagBody(urut, flag), "body");
}

void TestPipelineRules::quotedStrings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("readBack"); // what a JSON reader makes of it
    const QString same;                    // read back as written
    QTest::newRow("plain") << "Ann" << QByteArray("\"Ann\"") << same;
    QTest::newRow("quote") << "say \"hi\"" << QByteArray(R"("say \"hi\"")") << same;
    QTest::newRow("backslash") << "C:\\dir" << QByteArray(R"("C:\\dir")") << same;
    QTest::newRow("short escapes")
        << "a\nb\rc\td\be\ff" << QByteArray(R"("a\nb\rc\td\be\ff")") << same;
    QTest::newRow("other controls")
        << QString("\x01\x1f") + QChar(0) << QByteArray(R"("\u0001\u001f\u0000")") << same;
    QTest::newRow("DEL and slash stay") << "/\x7f" << QByteArray("\"/\x7f\"") << same;
    QTest::newRow("non-ASCII as UTF-8") << QString::fromUtf8("\xc3\xa9\xe6\x97\xa5")
                                        << QByteArray("\"\xc3\xa9\xe6\x97\xa5\"") << same;
    QTest::newRow("supplementary")
        << QString::fromUtf8("\xf0\x9f\x98\x80") << QByteArray("\"\xf0\x9f\x98\x80\"") << same;
    QTest::newRow("lone surrogate replaced")
        << QString(QChar(0xD800)) + "x" << QByteArray("\"\xef\xbf\xbdx\"")
        << QString(QChar(0xFFFD)) + "x";
}

void TestPipelineRules::quotedStrings()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, json);
    QFETCH(QString, readBack);
    if (readBack.isNull())
        readBack = text;
    QCOMPARE(JsonReportWriter::quoted(text), json);

    // The same through the value path, and what JSON readers make of it.
    QByteArray document;
    QBuffer buffer(&document);
    buffer.open(QIODevice::WriteOnly);
    ReportSink sink(&buffer);
    JsonReportWriter writer(sink);
    writer.begin(text, {}, {text});
    writer.beginRow();
    writer.beginValue(0);
    writer.appendText(text);
    writer.endValue();
    writer.endRow();
    writer.end({});
    QCOMPARE(document, "{\"title\":" + json + ",\"header\":[" + json + "],\"data\":[{" + json +
                           ":" + json + "}]}");
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(document, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(parsed.object().value("title").toString(), readBack);
    QCOMPARE(parsed.object().value("data").toArray().at(0).toObject().value(readBack).toString(),
             readBack);
}

void TestPipelineRules::surrogatePairAcrossPieces()
{
    const QString face = QString::fromUtf8("a\xf0\x9f\x98\x80"
                                           "b");
    QByteArray document;
    QBuffer buffer(&document);
    buffer.open(QIODevice::WriteOnly);
    ReportSink sink(&buffer);
    JsonReportWriter writer(sink);
    writer.begin({}, {}, {QStringLiteral("c")});
    writer.beginRow();
    writer.beginValue(0);
    // The driver hands text in pieces; a piece may end between the two halves of a pair.
    writer.appendText(QStringView(face).left(2));
    writer.appendText(QStringView(face).mid(2));
    writer.endValue();
    writer.endRow();
    writer.beginRow();
    writer.beginValue(0);
    writer.appendText(QStringView(face).left(2)); // a high half with nothing after it
    writer.endValue();
    writer.endRow();
    writer.end({});
    QCOMPARE(document, QByteArray("{\"header\":[\"c\"],\"data\":[{\"c\":\"a\xf0\x9f\x98\x80"
                                  "b\"},{\"c\":\"a\xef\xbf\xbd\"}]}"));
}

void TestPipelineRules::utf8Values_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out"); // the JSON string's content
    QTest::newRow("ASCII with escapes")
        << QByteArray("a\"b\\c\n\x01") << QByteArray(R"(a\"b\\c\n\u0001)");
    QTest::newRow("two, three and four bytes")
        << QByteArray("\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80")
        << QByteArray("\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80");
    QTest::newRow("stray bytes") << QByteArray("a\xff\x80z")
                                 << QByteArray("a\xef\xbf\xbd\xef\xbf\xbdz");
    QTest::newRow("overlong form")
        << QByteArray("\xc0\xaf") << QByteArray("\xef\xbf\xbd\xef\xbf\xbd");
    QTest::newRow("encoded surrogate")
        << QByteArray("\xed\xa0\x80x") << QByteArray("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdx");
    QTest::newRow("sequence cut short by a letter")
        << QByteArray("\xe6\x97x") << QByteArray("\xef\xbf\xbdx");
    QTest::newRow("value ends inside a sequence")
        << QByteArray("x\xf0\x9f\x98") << QByteArray("x\xef\xbf\xbd");
}

void TestPipelineRules::utf8Values()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    // The driver's pieces may end anywhere: every split gives the same document.
    for (qsizetype cut = 0; cut <= in.size(); ++cut) {
        QByteArray document;
        QBuffer buffer(&document);
        buffer.open(QIODevice::WriteOnly);
        ReportSink sink(&buffer);
        JsonReportWriter writer(sink);
        writer.begin({}, {}, {QStringLiteral("v")});
        writer.beginRow();
        writer.beginValue(0);
        writer.appendUtf8(in.constData(), cut);
        writer.appendUtf8(in.constData() + cut, in.size() - cut);
        writer.endValue();
        writer.endRow();
        writer.end({});
        QCOMPARE(document, R"({"header":["v"],"data":[{"v":")" + out + R"("}]})");
        QVERIFY(!QJsonDocument::fromJson(document).isNull());
    }
}

void TestPipelineRules::smallPiecesGiveSameBytes()
{
    // A long value through a sink whose pieces are far smaller than the value.
    const QString value = QString(5000, QLatin1Char('x')) + QStringLiteral("\"\n") +
                          QString::fromUtf8("é") + QString(3000, QLatin1Char('y'));
    auto write = [&value](qsizetype piece) {
        QByteArray document;
        QBuffer buffer(&document);
        buffer.open(QIODevice::WriteOnly);
        ReportSink sink(&buffer, piece);
        JsonReportWriter writer(sink);
        writer.begin(QStringLiteral("t"), QStringLiteral("f"), {QStringLiteral("v")});
        for (int row = 0; row < 3; ++row) {
            writer.beginRow();
            writer.beginValue(0);
            writer.appendText(value);
            writer.endValue();
            writer.endRow();
        }
        writer.end(QStringLiteral("footer"));
        return document;
    };
    const QByteArray big = write(ReportSink::kDefaultPiece);
    QCOMPARE(write(64), big);
    QCOMPARE(write(1000), big);
    const QJsonDocument parsed = QJsonDocument::fromJson(big);
    QCOMPARE(parsed.object().value("data").toArray().size(), 3);
    QCOMPARE(parsed.object().value("data").toArray().at(2).toObject().value("v").toString(), value);
}

using Attributes = QList<QStringList>; // each {key, value}

void TestPipelineRules::parseConnectionString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Attributes>("attributes");
    QTest::addColumn<bool>("wellFormed");

    QTest::newRow("plain") << "DRIVER={SQLite3};Database=/d/x.db;"
                           << Attributes{{"DRIVER", "SQLite3"}, {"Database", "/d/x.db"}} << true;
    QTest::newRow("no final semicolon")
        << "Driver=SQLite3;Database=x" << Attributes{{"Driver", "SQLite3"}, {"Database", "x"}}
        << true;
    QTest::newRow("braces keep ; and =")
        << "PWD={a;b=c};UID=u" << Attributes{{"PWD", "a;b=c"}, {"UID", "u"}} << true;
    QTest::newRow("doubled closing brace")
        << "PWD={a}}b}}};X=1" << Attributes{{"PWD", "a}b}"}, {"X", "1"}} << true;
    QTest::newRow("brace only opens at the start")
        << "PWD=a{b;X=}" << Attributes{{"PWD", "a{b"}, {"X", "}"}} << true;
    QTest::newRow("blanks and empty pairs skipped before a key")
        << "  ;; DRIVER={x} ;\r\n Database=y" << Attributes{{"DRIVER", "x"}, {"Database", "y"}}
        << true;
    QTest::newRow("blank before = stays in the key")
        << "DRIVER ={x};" << Attributes{{"DRIVER ", "x"}} << true;
    QTest::newRow("blank after = stays in the value")
        << "DRIVER= {x};" << Attributes{{"DRIVER", " {x}"}} << true;
    QTest::newRow("a key runs to the next =, across ;")
        << "Trusted;DRIVER=/x.so" << Attributes{{"Trusted;DRIVER", "/x.so"}} << true;
    QTest::newRow("last word without = dropped") << "A=1;B" << Attributes{{"A", "1"}} << true;
    QTest::newRow("empty value") << "OPTION=;STMT=;" << Attributes{{"OPTION", ""}, {"STMT", ""}}
                                 << true;
    QTest::newRow("duplicates kept in order")
        << "DRIVER={a};driver={b}" << Attributes{{"DRIVER", "a"}, {"driver", "b"}} << true;
    QTest::newRow("unclosed brace")
        << "DRIVER={SQLite3;Database=x" << Attributes{{"DRIVER", "SQLite3;Database=x"}} << false;
    QTest::newRow("empty") << "" << Attributes{} << true;
}

void TestPipelineRules::parseConnectionString()
{
    QFETCH(QString, text);
    QFETCH(Attributes, attributes);
    const ParsedConnectionString parsed = ParseConnectionString(text);
    Attributes got;
    for (const OdbcAttribute& a : parsed.attributes)
        got << QStringList{a.key, a.value};
    QCOMPARE(got, attributes);
    QTEST(parsed.problem.isEmpty(), "wellFormed");
}

void TestPipelineRules::connectionStringAsSent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("sent");
    QTest::newRow("driver string") << "DRIVER={SQLite3};Database=x"
                                   << "DRIVER={SQLite3};Database=x";
    QTest::newRow("server string") << "Server=h;Uid=u"
                                   << "Server=h;Uid=u";
    QTest::newRow("a DSN name") << "Toko"
                                << "DSN=Toko";
    QTest::newRow(".dsn anywhere makes a file DSN") << "DRIVER={SQLite3};Database=/x.dsnap"
                                                    << "FILEDSN=DRIVER={SQLite3};Database=/x.dsnap";
}

void TestPipelineRules::connectionStringAsSent()
{
    QFETCH(QString, name);
    QTEST(ConnectionStringAsSent(name), "sent");
}

void TestPipelineRules::connectionStringRefusal_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::addColumn<QString>("refusal"); // a part of the refusal; empty: allowed

    QTest::newRow("registered driver") << "DRIVER={SQLite3};Database=/d/x.db;"
                                       << "";
    QTest::newRow("registered, any letter case of the key")
        << "driver={PostgreSQL Unicode};Server=127.0.0.1;"
        << "";
    QTest::newRow("the window's template, line breaks and all")
        << "DRIVER={SQLite3};SERVER={IPAddress};PORT={Port}\r\n;OPTION=;STMT=;\r\n"
        << "";
    QTest::newRow("absolute path") << "DRIVER=/tmp/evil.so;"
                                   << "bukan file";
    QTest::newRow("path in braces") << "DRIVER={/tmp/evil.so};"
                                    << "bukan file";
    QTest::newRow("relative library name") << "DRIVER=libevil.so;"
                                           << "bukan file";
    QTest::newRow("versioned library name") << "DRIVER=libevil.so.1;"
                                            << "bukan file";
    QTest::newRow("windows path") << "DRIVER={C:\\x\\evil.dll};SERVER=s"
                                  << "bukan file";
    QTest::newRow("unregistered name") << "DRIVER={Evil};Database=x"
                                       << "tidak terdaftar";
    QTest::newRow("blank before the brace") << "DRIVER= {SQLite3};"
                                            << "tidak terdaftar";
    QTest::newRow("blank in the key") << "DRIVER ={/tmp/e.so};SERVER=x"
                                      << "bukan file";
    QTest::newRow("a second driver is checked too")
        << "DRIVER={SQLite3};Database=x;DRIVER=/tmp/evil.so"
        << "bukan file";
    QTest::newRow("a driver after a DSN is checked too") << "DSN=Toko;DRIVER=/tmp/evil.so"
                                                         << "bukan file";
    QTest::newRow("DSN with a registered driver") << "DSN=Toko;SERVER=x"
                                                  << "";
    QTest::newRow("DSN whose driver is a file") << "DSN=Berkas;SERVER=x"
                                                << "DSN \"Berkas\"";
    QTest::newRow("DSN whose driver is not registered") << "DSN=Asing;SERVER=x"
                                                        << "DSN \"Asing\"";
    QTest::newRow("DSN not defined is left to the driver manager") << "DSN=Tidak;SERVER=x"
                                                                   << "";
    QTest::newRow("a bare name is a DSN") << "Berkas"
                                          << "DSN \"Berkas\"";
    QTest::newRow("FILEDSN") << "FILEDSN=/tmp/x.dsn;"
                             << "FILEDSN";
    QTest::newRow(".dsn in a value becomes FILEDSN") << "DRIVER={SQLite3};Database=/d/a.dsn.db"
                                                     << "FILEDSN";
    QTest::newRow("SAVEFILE") << "DRIVER={SQLite3};SaveFile=/home/u/.bashrc"
                              << "SaveFile";
    QTest::newRow("driver manager attributes") << "DRIVER={SQLite3};DMConnAttr={[101]=\\0}"
                                               << "DMConnAttr";
    QTest::newRow("SQLite's extension loading") << "DRIVER={SQLite3};LoadExt=/tmp/e.so"
                                                << "LoadExt";
    QTest::newRow("a file key hidden in braces")
        << "DRIVER={SQLite3};Database={/x; LoadExt=/tmp/e.so}"
        << "LoadExt";
    QTest::newRow("SQLite's trace file") << "DRIVER={SQLite3};TraceFile=/tmp/t"
                                         << "TraceFile";
    QTest::newRow("psqlODBC's log folder") << "DRIVER={PostgreSQL Unicode};Logdir=/tmp;Server=x"
                                           << "Logdir";
    QTest::newRow("unclosed brace") << "DRIVER={SQLite3;Database=x"
                                    << "tidak terbaca";
}

void TestPipelineRules::connectionStringRefusal()
{
    QFETCH(QString, connectionString);
    QFETCH(QString, refusal);
    DriverRegistry registry;
    registry.isRegisteredDriver = [](const QString& name) {
        return name == QLatin1String("SQLite3") || name == QLatin1String("PostgreSQL Unicode");
    };
    registry.dsnDriver = [](const QString& dsn) -> std::optional<QString> {
        if (dsn == QLatin1String("Toko"))
            return QStringLiteral("SQLite3");
        if (dsn == QLatin1String("Berkas"))
            return QStringLiteral("/usr/lib/x/libsqlite3odbc.so");
        if (dsn == QLatin1String("Asing"))
            return QStringLiteral("Asing");
        return std::nullopt;
    };
    const std::optional<QString> got = ConnectionStringRefusal(connectionString, registry);
    if (refusal.isEmpty()) {
        QVERIFY2(!got, qPrintable(got.value_or(QString())));
    } else {
        QVERIFY(got);
        QVERIFY2(got->startsWith(QLatin1String("Koneksi ditolak: ")), qPrintable(*got));
        QVERIFY2(got->contains(refusal), qPrintable(*got));
    }
}

void TestPipelineRules::guardStatement_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("runs");

    QTest::newRow("select") << "SELECT id FROM t" << true;
    QTest::newRow("lower case, blanks, one final ;") << "  \n\tselect 1 ;  " << true;
    QTest::newRow("with") << "WITH x AS (SELECT 1) SELECT * FROM x" << true;
    QTest::newRow("after comments") << "-- sales\n/* daily */ SELECT 1" << true;
    QTest::newRow("; inside a string") << "SELECT * FROM t WHERE n LIKE '%;%'" << true;
    QTest::newRow("; inside a quoted name") << "SELECT \"a;b\" FROM t" << true;
    QTest::newRow("; in a trailing comment") << "SELECT 1 -- one; two" << true;
    QTest::newRow("word that begins with select") << "SELECTED FROM t" << false;
    QTest::newRow("delete") << "DELETE FROM t" << false;
    QTest::newRow("update") << "UPDATE t SET a = 1" << false;
    QTest::newRow("create as select") << "CREATE TABLE c AS SELECT * FROM t" << false;
    QTest::newRow("parenthesised select") << "(SELECT 1)" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("only a comment") << "-- SELECT 1" << false;
    QTest::newRow("second statement") << "SELECT 1; DELETE FROM t" << false;
    QTest::newRow("second statement after a comment") << "SELECT 1; /* x */ DELETE FROM t" << false;
    QTest::newRow("statement hidden from a reader without E strings")
        << "SELECT E'\\''; DELETE FROM t; --'" << false;
    QTest::newRow("statement hidden from a reader with backslash escapes")
        << "SELECT 'a\\'; DELETE FROM t; --'" << false;
    QTest::newRow("statement hidden from a reader with nested comments")
        << "SELECT 1 /* /* */ ; DELETE FROM t; /* */" << false;
    QTest::newRow("statement hidden from a reader with dollar quotes")
        << "SELECT $x$ ; DELETE FROM t; $x$" << false;
    QTest::newRow("statement hidden from a reader with # comments")
        << "SELECT 1 # '\n; DELETE FROM t; -- '" << false;
    QTest::newRow("statement hidden from a reader with [names]")
        << "SELECT a[1 ; DELETE FROM t; SELECT 2]" << false;
    QTest::newRow("statement hidden from a reader with `names`")
        << "SELECT `x; DELETE FROM t; --`" << false;
    QTest::newRow("a leading comment only one reader sees")
        << "/* /* */ SELECT 1 */ DELETE FROM t" << false;
    QTest::newRow("a dollar-quoted select") << "SELECT $$;$$" << false;
}

void TestPipelineRules::guardStatement()
{
    QFETCH(QString, sql);
    QFETCH(bool, runs);
    const std::optional<QString> refusal = GuardStatementRefusal(sql);
    QCOMPARE(!refusal, runs);
    if (refusal)
        QVERIFY(refusal->startsWith(QLatin1String("Penjaga hanya-baca menolak")));
}

void TestPipelineRules::guardSettings()
{
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    // Nothing stored: off, with the defaults.
    OwnerGuard guard = OwnerGuard::Load(store);
    QCOMPARE(guard.readOnly, false);
    QCOMPARE(guard.timeLimitSeconds, 300);
    QCOMPARE(guard.rowLimit, qint64(1000000));

    guard.readOnly = true;
    guard.timeLimitSeconds = 7;
    guard.rowLimit = 3000000000LL;
    guard.save(store);
    const OwnerGuard back = OwnerGuard::Load(store);
    QCOMPARE(back.readOnly, true);
    QCOMPARE(back.timeLimitSeconds, 7);
    QCOMPARE(back.rowLimit, 3000000000LL);

    // A limit that is no limit falls back to the default, never to "unlimited".
    store.setValue(OwnerGuard::kTimeLimitKey, 0);
    store.setValue(OwnerGuard::kRowLimitKey, QStringLiteral("banyak"));
    const OwnerGuard broken = OwnerGuard::Load(store);
    QCOMPARE(broken.timeLimitSeconds, 300);
    QCOMPARE(broken.rowLimit, qint64(1000000));
}

QTEST_GUILESS_MAIN(TestPipelineRules)
#include "tst_pipeline_rules.moc"
