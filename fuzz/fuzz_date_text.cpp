// Arbitrary text through the date edits' mask and the date reading of the
// period dialog: no crash, and a date read is shown and read back as itself.

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "period/core/periodrules.h"

#include <cstdint>
#include <cstdlib>

using namespace bilmeko;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const Formats ru = Formats::russian();
    static const DateMask mask = DateMask::forFormats(ru);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const QString fitted = mask.fit(text);
    if (fitted.size() != mask.length())
        std::abort();
    if (mask.fromDisplay(mask.toDisplay(fitted)) != fitted)
        std::abort();
    (void)mask.satisfied(text);

    for (const QString &candidate : {text, fitted}) {
        try {
            const QDate d = readDateText(candidate, ru);
            if (!d.isValid())
                std::abort();
            if (readDateText(ru.dateText(d), ru) != d)
                std::abort();
        } catch (const Error &) {
            // "'%s' is not a valid date": the dialog shows it.
        }
    }
    return 0;
}
