#include "ui/Fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTest>

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
        UseFontFallbacks();
        QCOMPARE(QFontInfo(QFont(named, 8)).family(), QStringLiteral("Liberation Sans"));
    }
};

QTEST_MAIN(FontsTest)
#include "FontsTest.moc"
