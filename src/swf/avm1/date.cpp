// Date: a time in milliseconds since 1970 (UTC), read and written in the platform's local time
// zone or in UTC, printed as Flash Player prints it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "swf/avm1/objects.h"

namespace swf::avm1 {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMsPerDay = 86400000.0;
constexpr double kMaxTime = 8.64e15;

// The fields of a time, in the order the constructor and the setters take them.
enum Field { Year, Month, Date, Hours, Minutes, Seconds, Millis, FieldCount };

double DaysFromCivil(double y, double m, double d) {
  // Whole-number civil calendar arithmetic on doubles (the years may be far out of int range).
  y -= m <= 2 ? 1 : 0;
  const double era = std::floor(y / 400);
  const double yoe = y - era * 400;
  const double mp = m > 2 ? m - 3 : m + 9;
  const double doy = std::floor((153 * mp + 2) / 5) + d - 1;
  const double doe = yoe * 365 + std::floor(yoe / 4) - std::floor(yoe / 100) + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(double z, double* y, double* m, double* d) {
  z += 719468;
  const double era = std::floor(z / 146097);
  const double doe = z - era * 146097;
  const double yoe = std::floor(
      (doe - std::floor(doe / 1460) + std::floor(doe / 36524) - std::floor(doe / 146096)) / 365);
  const double doy = doe - (365 * yoe + std::floor(yoe / 4) - std::floor(yoe / 100));
  const double mp = std::floor((5 * doy + 2) / 153);
  *d = doy - std::floor((153 * mp + 2) / 5) + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

double ToInteger(double v) {
  return std::isnan(v) ? 0 : std::trunc(v);
}

// A time from its fields (any of them out of their range carries over).
double Compose(const double f[FieldCount]) {
  for (int i = 0; i < FieldCount; ++i) {
    if (!std::isfinite(f[i])) return kNaN;
  }
  const double month = ToInteger(f[Month]);
  const double year = ToInteger(f[Year]) + std::floor(month / 12);
  const double mn = month - std::floor(month / 12) * 12;
  const double day = DaysFromCivil(year, mn + 1, 1) + ToInteger(f[Date]) - 1;
  const double time = ToInteger(f[Hours]) * 3600000 + ToInteger(f[Minutes]) * 60000 +
                      ToInteger(f[Seconds]) * 1000 + ToInteger(f[Millis]);
  return day * kMsPerDay + time;
}

void Decompose(double t, double f[FieldCount], double* weekday) {
  const double day = std::floor(t / kMsPerDay);
  double ms = t - day * kMsPerDay;
  CivilFromDays(day, &f[Year], &f[Month], &f[Date]);
  f[Month] -= 1;
  f[Hours] = std::floor(ms / 3600000);
  ms -= f[Hours] * 3600000;
  f[Minutes] = std::floor(ms / 60000);
  ms -= f[Minutes] * 60000;
  f[Seconds] = std::floor(ms / 1000);
  f[Millis] = std::floor(ms - f[Seconds] * 1000);
  if (weekday) *weekday = std::fmod(std::fmod(day + 4, 7) + 7, 7);
}

double TimeClip(double t) {
  return std::isfinite(t) && std::fabs(t) <= kMaxTime ? t : kNaN;
}

double Now(const Vm& vm) {
  if (vm.wall_clock) return std::floor(vm.wall_clock->utc_ms + vm.now_ms);
  const auto wall = std::chrono::system_clock::now().time_since_epoch();
  return double(std::chrono::duration_cast<std::chrono::milliseconds>(wall).count());
}

// The local time zone's offset from UTC at UTC time `t`, in milliseconds, as the platform has it.
// Flash Player applies today's rules to every year: the same moment of this year answers.
double LocalOffset(const Vm& vm, double t) {
  if (!std::isfinite(t)) return 0;
  if (vm.wall_clock) return vm.wall_clock->zone_ms;
  double f[FieldCount];
  // A time out of every date's range (the constructor keeps any number) goes by today's zone.
  Decompose(std::fabs(t) <= kMaxTime ? t : Now(vm), f, nullptr);
  double now[FieldCount];
  Decompose(Now(vm), now, nullptr);
  f[Year] = now[Year];
  const std::time_t secs = std::time_t(std::floor(Compose(f) / 1000));
  const std::tm* local = std::localtime(&secs);
  if (!local) return 0;
  const double local_fields[FieldCount] = {double(local->tm_year) + 1900,
                                           double(local->tm_mon),
                                           double(local->tm_mday),
                                           double(local->tm_hour),
                                           double(local->tm_min),
                                           double(local->tm_sec),
                                           0};
  return Compose(local_fields) - double(secs) * 1000;
}
double ToLocal(const Vm& vm, double t) {
  return t + LocalOffset(vm, t);
}
double FromLocal(const Vm& vm, double t) {
  return t - LocalOffset(vm, t - LocalOffset(vm, t));
}

double TimeOf(const Value& self) {
  if (!self.IsObject() || self.o->kind != Kind::Date) return kNaN;
  return self.o->primitive.type == Type::Number ? self.o->primitive.n : kNaN;
}

// The fields given as the constructor and Date.UTC take them (a year below 100 counts from 1900).
void FieldsOf(Vm& vm, std::span<Value> args, double f[FieldCount]) {
  for (int i = 0; i < FieldCount; ++i) {
    f[i] = std::size_t(i) < args.size() ? vm.ToNumber(args[std::size_t(i)]) : (i == Date ? 1 : 0);
  }
  const double y = ToInteger(f[Year]);
  if (std::isfinite(f[Year]) && y < 100) f[Year] = 1900 + y;
}

std::string DateText(const Vm& vm, double t) {
  if (!std::isfinite(t) || std::fabs(t) > kMaxTime * 1000) return "Invalid Date";
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const double offset = LocalOffset(vm, t);
  double f[FieldCount];
  double weekday = 0;
  Decompose(t + offset, f, &weekday);
  const long zone = std::lround(std::fabs(offset) / 60000);
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s %s %.0f %02.0f:%02.0f:%02.0f GMT%c%02ld%02ld %.0f",
                kDays[int(weekday)], kMonths[int(f[Month])], f[Date], f[Hours], f[Minutes],
                f[Seconds], offset < 0 ? '-' : '+', zone / 60, zone % 60, f[Year]);
  return buf;
}

Value DateConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  double t = 0;
  if (args.empty()) {
    t = Now(vm);
  } else if (args.size() == 1) {
    // Another date's time as it is: its string is what it would convert to.
    const bool date = args[0].IsObject() && args[0].o->kind == Kind::Date;
    t = date ? TimeOf(args[0]) : vm.ToNumber(args[0]);
  } else {
    double f[FieldCount];
    FieldsOf(vm, args, f);
    t = FromLocal(vm, Compose(f));
  }
  self.o->kind = Kind::Date;
  self.o->primitive = Value::Num(t);
  return self;
}
Value DateCall(Vm& vm, const Value&, std::span<Value>) {
  return Value::Str(DateText(vm, Now(vm)));
}
Value DateUtc(Vm& vm, const Value&, std::span<Value> args) {
  if (args.size() < 2) return Value{};
  double f[FieldCount];
  FieldsOf(vm, args, f);
  return Value::Num(Compose(f));
}

Value DateToString(Vm& vm, const Value& self, std::span<Value>) {
  return Value::Str(DateText(vm, TimeOf(self)));
}
Value DateGetTime(Vm&, const Value& self, std::span<Value>) {
  return Value::Num(TimeOf(self));
}
Value DateSetTime(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject() || self.o->kind != Kind::Date) return Value::Num(kNaN);
  const double t = TimeClip(vm.ToNumber(Arg(args, 0)));
  self.o->primitive = Value::Num(t);
  return Value::Num(t);
}
Value DateTimezoneOffset(Vm& vm, const Value& self, std::span<Value>) {
  const double t = TimeOf(self);
  if (std::isnan(t)) return Value::Num(kNaN);
  return Value::Num(-LocalOffset(vm, t) / 60000);
}

// getMonth, getUTCHours and the others: one field, `first` == FieldCount for the weekday.
template <int first, bool utc>
Value DateGet(Vm& vm, const Value& self, std::span<Value>) {
  const double t = TimeOf(self);
  if (std::isnan(t)) return Value::Num(kNaN);
  double f[FieldCount];
  double weekday = 0;
  Decompose(utc ? t : ToLocal(vm, t), f, &weekday);
  return Value::Num(first == FieldCount ? weekday : f[first]);
}
template <bool utc>
Value DateGetYear(Vm& vm, const Value& self, std::span<Value> args) {
  const Value year = DateGet<Year, utc>(vm, self, args);
  return Value::Num(year.n - 1900);
}

// setHours(h, m, s, ms) and the others: the fields from `first` on, at most `count` of them.
template <int first, int count, bool utc>
Value DateSet(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject() || self.o->kind != Kind::Date) return Value::Num(kNaN);
  double t = TimeOf(self);
  if (std::isnan(t)) return Value::Num(kNaN);
  double f[FieldCount];
  Decompose(utc ? t : ToLocal(vm, t), f, nullptr);
  const std::size_t given = std::min<std::size_t>(args.size(), count);
  if (given == 0) f[first] = kNaN;
  for (std::size_t i = 0; i < given; ++i) f[first + int(i)] = vm.ToNumber(args[i]);
  const double local = Compose(f);
  t = TimeClip(utc ? local : FromLocal(vm, local));
  self.o->primitive = Value::Num(t);
  return Value::Num(t);
}
Value DateSetYear(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.empty()) return DateSet<Year, 1, false>(vm, self, args);
  Value year = Value::Num(vm.ToNumber(args[0]));
  const double y = ToInteger(year.n);
  if (std::isfinite(year.n) && y >= 0 && y <= 99) year.n = 1900 + y;
  return DateSet<Year, 1, false>(vm, self, std::span<Value>(&year, 1));
}

}  // namespace

void InstallDate(Vm& vm) {
  vm.date_proto = vm.NewObject();
  Object* p = vm.date_proto;
  Object* ctor = vm.NewFunction(DateCall, p, DateConstruct);
  vm.Define(vm.global, "Date", Value::Obj(ctor), DontEnum);
  vm.DefineNative(ctor, "UTC", DateUtc);

  struct Method {
    const char* name;
    NativeFn fn;
  };
  const Method methods[] = {
      {"getTime", DateGetTime},
      {"valueOf", DateGetTime},
      {"toString", DateToString},
      {"setTime", DateSetTime},
      {"getTimezoneOffset", DateTimezoneOffset},
      {"getFullYear", DateGet<Year, false>},
      {"getYear", DateGetYear<false>},
      {"getMonth", DateGet<Month, false>},
      {"getDate", DateGet<Date, false>},
      {"getDay", DateGet<FieldCount, false>},
      {"getHours", DateGet<Hours, false>},
      {"getMinutes", DateGet<Minutes, false>},
      {"getSeconds", DateGet<Seconds, false>},
      {"getMilliseconds", DateGet<Millis, false>},
      {"getUTCFullYear", DateGet<Year, true>},
      {"getUTCYear", DateGetYear<true>},
      {"getUTCMonth", DateGet<Month, true>},
      {"getUTCDate", DateGet<Date, true>},
      {"getUTCDay", DateGet<FieldCount, true>},
      {"getUTCHours", DateGet<Hours, true>},
      {"getUTCMinutes", DateGet<Minutes, true>},
      {"getUTCSeconds", DateGet<Seconds, true>},
      {"getUTCMilliseconds", DateGet<Millis, true>},
      {"setFullYear", DateSet<Year, 3, false>},
      {"setYear", DateSetYear},
      {"setMonth", DateSet<Month, 2, false>},
      {"setDate", DateSet<Date, 1, false>},
      {"setHours", DateSet<Hours, 4, false>},
      {"setMinutes", DateSet<Minutes, 3, false>},
      {"setSeconds", DateSet<Seconds, 2, false>},
      {"setMilliseconds", DateSet<Millis, 1, false>},
      {"setUTCFullYear", DateSet<Year, 3, true>},
      {"setUTCMonth", DateSet<Month, 2, true>},
      {"setUTCDate", DateSet<Date, 1, true>},
      {"setUTCHours", DateSet<Hours, 4, true>},
      {"setUTCMinutes", DateSet<Minutes, 3, true>},
      {"setUTCSeconds", DateSet<Seconds, 2, true>},
      {"setUTCMilliseconds", DateSet<Millis, 1, true>},
  };
  for (const Method& m : methods) vm.DefineNative(p, m.name, m.fn);
}

}  // namespace swf::avm1
