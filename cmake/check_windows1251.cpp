// Built and run while configuring: the program's files are in Windows-1251,
// and Qt converts it only when its Core library was built with ICU.
#include <QStringDecoder>
#include <QStringEncoder>

int main()
{
    QStringDecoder decoder("windows-1251");
    QStringEncoder encoder("windows-1251");
    if (!decoder.isValid() || !encoder.isValid())
        return 1;
    const QString text = decoder(QByteArray("\xD1\xF2\xEE\xEF"));
    const QByteArray back = encoder(text);
    return text == QStringLiteral(u"Стоп") && back == "\xD1\xF2\xEE\xEF" ? 0 : 1;
}
