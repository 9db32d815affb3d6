#include "ShellQuote.h"
#include "TestCore.h"
#include "ToolProcess.h"

#include <QFile>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestShellQuote : public QObject
{
    Q_OBJECT
private:
    static QByteArray echoThroughShell(const QString& word)
    {
        ToolProcess process(u"printf '%s' "_s + word);
        process.launch(ToolOutput::WholeStdout);
        const QByteArray out = process.readStdoutToEnd();
        process.waitUntilExit();
        return out;
    }

    static QStringList nastyTexts()
    {
        return {u"plain"_s,
                u"with space"_s,
                u"it's"_s,
                u"''"_s,
                u"say \"hi\""_s,
                u"$HOME and $(touch SENTINEL)"_s,
                u"`touch SENTINEL`"_s,
                u"back\\slash \\\" \\$"_s,
                u"Ünïcødé ✓ 日本"_s,
                u"-leading-dash"_s,
                u"semi; touch SENTINEL; #"_s,
                u"new\nline"_s,
                QString()};
    }

private Q_SLOTS:
    void singleQuotingLeavesPlainTextAsWritten()
    {
        QCOMPARE(ShellQuote::single(u"/a b/c.mp3"_s), u"'/a b/c.mp3'"_s);
        QCOMPARE(ShellQuote::single(u"it's"_s), u"'it'\\''s'"_s);
        QCOMPARE(ShellQuote::insideDouble(u"plain text"_s), u"plain text"_s);
        QCOMPARE(ShellQuote::insideDouble(u"a\"b$c`d\\e"_s), u"a\\\"b\\$c\\`d\\\\e"_s);
    }

    // Every text reaches the program intact, and nothing in it is run.
    void quotedTextsSurviveTheShell()
    {
        TestEnvironment environment;
        QVERIFY(QDir::setCurrent(environment.root()));
        for (const QString& text : nastyTexts()) {
            QCOMPARE(QString::fromUtf8(echoThroughShell(ShellQuote::single(text))), text);
            QCOMPARE(
                QString::fromUtf8(echoThroughShell(u'"' + ShellQuote::insideDouble(text) + u'"')),
                text);
        }
        QVERIFY(!QFile::exists(environment.root() + u"/SENTINEL"_s));
    }
};

QTEST_GUILESS_MAIN(TestShellQuote)
#include "tst_shellquote.moc"
