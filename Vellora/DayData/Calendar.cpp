#include "Vellora/DayData/Calendar.h"

#include <QLocale>

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <limits>

struct Calendar::Impl
{
    std::unique_ptr<icu::Calendar> calendar;
};

namespace {

std::unique_ptr<icu::Calendar> gregorianFallback()
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(
        icu::Calendar::createInstance(icu::TimeZone::getGMT()->clone(), icu::Locale::getUS(), status));
    return calendar;
}

// Day keys agree with the dates of the rest of the program, which count Gregorian years back before 1582 too.
std::unique_ptr<icu::Calendar> proleptic(std::unique_ptr<icu::Calendar> calendar)
{
    if (auto *gregorian = dynamic_cast<icu::GregorianCalendar *>(calendar.get())) {
        UErrorCode status = U_ZERO_ERROR;
        gregorian->setGregorianChange(-std::numeric_limits<double>::max(), status);
    }
    return calendar;
}

} // namespace

Calendar::Calendar(std::shared_ptr<const Impl> impl)
    : m_impl(std::move(impl))
{
}

Calendar Calendar::current()
{
    // ICU caches its default zone; TZ may have changed since it was first asked.
    icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(status));
    auto impl = std::make_shared<Impl>();
    impl->calendar = proleptic(U_SUCCESS(status) && calendar ? std::move(calendar) : gregorianFallback());
    return Calendar(std::move(impl));
}

Calendar Calendar::make(const QString &locale, const QString &timeZone)
{
    const std::u16string zone(reinterpret_cast<const char16_t *>(timeZone.utf16()), timeZone.size());
    icu::TimeZone *icuZone = icu::TimeZone::createTimeZone(icu::UnicodeString(zone.data(), int32_t(zone.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(
        icu::Calendar::createInstance(icuZone, icu::Locale(locale.toUtf8().constData()), status));
    auto impl = std::make_shared<Impl>();
    impl->calendar = proleptic(U_SUCCESS(status) && calendar ? std::move(calendar) : gregorianFallback());
    return Calendar(std::move(impl));
}

QString Calendar::dayKey(const QDateTime &time) const
{
    std::unique_ptr<icu::Calendar> calendar(m_impl->calendar->clone());
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(UDate(time.toMSecsSinceEpoch()), status);
    auto field = [&](UCalendarDateFields which, int offset) {
        UErrorCode fieldStatus = U_ZERO_ERROR;
        const int32_t value = calendar->get(which, fieldStatus);
        return U_SUCCESS(status) && U_SUCCESS(fieldStatus) ? value + offset : 0;
    };
    // ICU counts months from 0.
    return QString::asprintf("%04d-%02d-%02d", field(UCAL_YEAR, 0), field(UCAL_MONTH, 1), field(UCAL_DATE, 0));
}

QString Calendar::type() const
{
    return QString::fromLatin1(m_impl->calendar->getType());
}

QString Calendar::timeZoneId() const
{
    icu::UnicodeString id;
    m_impl->calendar->getTimeZone().getID(id);
    return QString(reinterpret_cast<const QChar *>(id.getBuffer()), id.length());
}

QString dateLine(const QDateTime &time)
{
    // Qt's own tables: the same words as a date formatter of the en_US locale, without loading its data on the way
    // to the first frame. Qt counts Gregorian years back before 1582, as the day keys do.
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(time.toLocalTime(), u"dddd, MMMM d");
}
