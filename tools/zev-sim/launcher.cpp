// The launcher: options, the machine, the in-process run and the report.
#include "launcher.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>

#include "app/entry_point.hpp"
#include "core/firmware_image.hpp"
#include "platform/sim/sim_binding.hpp"
#include "zevsim/machine_file.hpp"
#include "zevsim/report.hpp"
#include "zevsim/utf8.hpp"

namespace zevlauncher {

namespace {

constexpr std::string_view kUsage =
    "usage: zev-sim [--machine FILE] [--report FILE] [--clock YYYY-MM-DDThh:mm:ss] "
    "[--argv0 TEXT] [--] [package arguments...]";

bool readDigits(std::string_view text, std::size_t at, std::size_t width, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

ParsedOptions problem(std::string text) {
  return {std::nullopt, std::move(text)};
}

// Text up to its first zero character, as a C-string API reads it.
std::string cStringUtf8(const std::wstring& text) {
  return utf8FromWide(text.substr(0, text.find(L'\0')));
}

}  // namespace

std::optional<zevsim::LocalTime> parseClock(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  zevsim::LocalTime t;
  if (!readDigits(text, 0, 4, t.year) || !readDigits(text, 5, 2, t.month) ||
      !readDigits(text, 8, 2, t.day) || !readDigits(text, 11, 2, t.hour) ||
      !readDigits(text, 14, 2, t.minute) || !readDigits(text, 17, 2, t.second)) {
    return std::nullopt;
  }
  if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > daysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return std::nullopt;
  }
  return t;
}

ParsedOptions parseLauncherOptions(const std::vector<std::wstring>& args) {
  LauncherOptions options;
  options.argv0 = args.empty() ? std::wstring(L"zev-sim") : args[0];
  bool argv0Given = false;
  std::size_t i = 1;
  for (; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    if (arg.rfind(L"--", 0) != 0) {
      break;  // the package's arguments begin here
    }
    const std::string name = utf8FromWide(arg);
    if (name != "--machine" && name != "--report" && name != "--clock" && name != "--argv0") {
      return problem("unknown option \"" + zevsim::shownOnOneLine(name) + "\"");
    }
    if (i + 1 >= args.size()) {
      return problem(name + " needs a value");
    }
    const std::string value = utf8FromWide(args[++i]);
    const bool given = name == "--machine"  ? options.machinePath.has_value()
                       : name == "--report" ? options.reportPath.has_value()
                       : name == "--clock"  ? options.clock.has_value()
                                            : argv0Given;
    if (given) {
      return problem(name + " is given twice");
    }
    if (name == "--machine" || name == "--report") {
      if (value.empty()) {
        return problem(name + " needs a file name");
      }
      (name == "--machine" ? options.machinePath : options.reportPath) = value;
    } else if (name == "--clock") {
      options.clock = parseClock(value);
      if (!options.clock) {
        return problem("--clock takes a date and time as YYYY-MM-DDThh:mm:ss, not \"" +
                       zevsim::shownOnOneLine(value) + "\"");
      }
    } else {
      options.argv0 = args[i];
      argv0Given = true;
    }
  }
  options.packageArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(std::min(i, args.size())),
                             args.end());
  return {std::move(options), {}};
}

std::string messageBoxLine(const zevsim::MessageBoxRecord& box) {
  std::string line = "[message box] " + cStringUtf8(box.caption) + ": " + cStringUtf8(box.text);
  if (line.back() != '\n') {
    line.push_back('\n');
  }
  return line;
}

namespace {

// What the launcher was doing, for the line of an allocation failure.
enum class Stage { Options, Loading, Running, Reporting };

int runStages(const std::vector<std::wstring>& args, std::ostream& errors, Stage& stage) {
  ParsedOptions parsed = parseLauncherOptions(args);
  if (!parsed.options) {
    errors << "zev-sim: " << parsed.problem << "; " << kUsage << "\n" << std::flush;
    return 2;
  }
  const LauncherOptions& options = *parsed.options;

  stage = Stage::Loading;
  zevsim::MachineConfig config;
  if (options.machinePath) {
    zevsim::MachineFileResult loaded = zevsim::loadMachineFile(*options.machinePath);
    if (!loaded.config) {
      errors << loaded.error << "\n" << std::flush;
      return 2;
    }
    config = std::move(*loaded.config);
  } else {
    config = zevsim::demonstrationMachine();
  }

  // The report file is opened before the run, so that a run whose outcome
  // could not be recorded never starts.
  // Closed on every way out, an allocation failure's included.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> report(nullptr, &std::fclose);
  if (options.reportPath) {
    report.reset(std::fopen(options.reportPath->c_str(), "wb"));
    if (report == nullptr) {
      errors << "zev-sim: cannot write the report " << zevsim::shownOnOneLine(*options.reportPath)
             << ": " << std::strerror(errno) << "\n"
             << std::flush;
      return 2;
    }
  }

  stage = Stage::Running;
  const auto image = zev::firmwareImage();
  zevsim::Machine machine(config, std::vector<std::uint8_t>(image.begin(), image.end()));
  if (options.clock) {
    machine.setClock(*options.clock);
  }

  std::vector<const wchar_t*> argv;
  argv.push_back(options.argv0.c_str());
  for (const std::wstring& arg : options.packageArgs) {
    argv.push_back(arg.c_str());
  }
  argv.push_back(nullptr);

  const std::int32_t status = [&] {
    const zev::platform::sim::SimBinding binding(machine);
    return zev::packageMain(static_cast<int>(argv.size() - 1), argv.data());
  }();
  std::fflush(stdout);

  for (const zevsim::MessageBoxRecord& box : machine.messageBoxes()) {
    errors << messageBoxLine(box);
  }
  errors << std::flush;
  if (machine.ranOutOfMemory()) {
    // A release call ran out of memory (and could not throw): the run ends
    // as one that ran out of memory anywhere else does.
    throw std::bad_alloc();
  }
  if (report != nullptr) {
    stage = Stage::Reporting;
    const std::string text = zevsim::reportJson(machine, status);
    const bool written = std::fwrite(text.data(), 1, text.size(), report.get()) == text.size();
    const int writeErrno = errno;
    const bool flushed = std::fflush(report.get()) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(report.release()) == 0;
    const int closeErrno = errno;
    if (!written || !flushed || !closed) {
      errors << "zev-sim: cannot write the report " << zevsim::shownOnOneLine(*options.reportPath)
             << ": "
             << std::strerror(!written   ? writeErrno
                              : !flushed ? flushErrno
                                         : closeErrno)
             << "\n"
             << std::flush;
      return 2;
    }
  }
  return status;
}

}  // namespace

int runLauncher(const std::vector<std::wstring>& args, std::ostream& errors) {
  // An allocation that fails (a machine too large for the memory the process
  // may take) ends the run as a refused machine file does, with one line and
  // status 2, rather than as an uncaught exception's abort.
  Stage stage = Stage::Options;
  try {
    return runStages(args, errors, stage);
  } catch (const std::bad_alloc&) {
    static constexpr const char* kDoing[] = {"reading the options", "loading the machine file",
                                             "running the package", "writing the report"};
    std::fflush(stdout);
    errors << "zev-sim: out of memory while " << kDoing[static_cast<int>(stage)] << "\n"
           << std::flush;
    return 2;
  }
}

int runLauncher(const std::vector<std::wstring>& args) {
  return runLauncher(args, std::cerr);
}

}  // namespace zevlauncher
