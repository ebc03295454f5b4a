#include "ui/Fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTest>
#include <QWidget>

// Where the faces the windows name are missing, their texts come out in a
// face with Arial's metrics instead of the system's wider default.
class FontsTest : public QObject
{
    Q_OBJECT

private slots:
    void missingFacesUseTheMetricCompatibleOne_data()
    {
        QTest::addColumn<QString>("named");
        QTest::newRow("Arial") << QStringLiteral("Arial");
        QTest::newRow("MS Sans Serif") << QStringLiteral("MS Sans Serif");
    }
    void missingFacesUseTheMetricCompatibleOne()
    {
        QFETCH(QString, named);
        if (QFontDatabase::hasFamily(named))
            QSKIP("the face itself is installed");
        QVERIFY2(QFontDatabase::hasFamily(QStringLiteral("Liberation Sans")),
                 "Liberation Sans is missing (Debian package fonts-liberation)");
        useFontFallbacks();
        QCOMPARE(QFontInfo(QFont(named, 8)).family(), QStringLiteral("Liberation Sans"));
    }

    // A message box names no font: it is set like the dialogs.
    void unnamedFontIsTheDialogs()
    {
        useFontFallbacks();
        QWidget plain;
        const QFont dialogs(QStringLiteral("MS Sans Serif"), 8);
        QCOMPARE(plain.font().pointSize(), 8);
        QCOMPARE(QFontInfo(plain.font()).family(), QFontInfo(dialogs).family());
    }
};

QTEST_MAIN(FontsTest)
#include "FontsTest.moc"
