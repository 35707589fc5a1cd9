// The launcher: options, the machine, the in-process run and the report.
#include "launcher.hpp"

#include <cstdio>
#include <fstream>
#include <optional>

#include "app/entry_point.hpp"
#include "app/firmware_image.hpp"
#include "platform/sim/sim_binding.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"
#include "zevsim/report.hpp"

namespace zevlauncher {

namespace {

void usageError(const std::string& problem) {
  std::fprintf(stderr, "zev-sim: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: zev-sim [--machine FILE] [--report FILE] [--clock YYYY-MM-DDThh:mm:ss] "
               "[--argv0 TEXT] [--] [package arguments...]\n");
}

bool parseTwoDigits(const std::string& text, std::size_t at, int& value, int width = 2) {
  value = 0;
  for (int i = 0; i < width; ++i) {
    const char c = text[at + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
  }
  return true;
}

std::optional<zevsim::LocalTime> parseClock(const std::string& text) {
  // YYYY-MM-DDThh:mm:ss
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  zevsim::LocalTime t;
  if (!parseTwoDigits(text, 0, t.year, 4) || !parseTwoDigits(text, 5, t.month) ||
      !parseTwoDigits(text, 8, t.day) || !parseTwoDigits(text, 11, t.hour) ||
      !parseTwoDigits(text, 14, t.minute) || !parseTwoDigits(text, 17, t.second)) {
    return std::nullopt;
  }
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second > 60) {
    return std::nullopt;
  }
  return t;
}

// A message box caption is a C string: it ends at its first zero character.
std::string shownText(const std::wstring& text, bool cString) {
  std::string out;
  for (wchar_t c : text) {
    if (cString && c == L'\0') {
      break;
    }
    out.push_back(static_cast<char>(static_cast<std::uint32_t>(c) & 0xFFu));
  }
  return out;
}

}  // namespace

std::wstring wideFromUtf8(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::uint32_t code = 0xFFFD;
    std::size_t length = 1;
    if (c < 0x80) {
      code = c;
    } else if ((c >> 5) == 0x6 || (c >> 4) == 0xE || (c >> 3) == 0x1E) {
      length = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
      code = c & (0x7Fu >> length);
      bool valid = i + length <= text.size();
      for (std::size_t k = 1; valid && k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        valid = (next >> 6) == 0x2;
        code = (code << 6) | (next & 0x3Fu);
      }
      if (!valid) {
        code = 0xFFFD;
        length = 1;
      }
    }
    if constexpr (sizeof(wchar_t) == 2) {
      if (code >= 0x10000) {
        code -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        i += length;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(code));
    i += length;
  }
  return out;
}

std::string utf8FromWide(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
        const auto low = static_cast<std::uint32_t>(text[i + 1]);
        if (low >= 0xDC00 && low < 0xE000) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

int runLauncher(const std::vector<std::wstring>& args) {
  std::optional<std::string> machinePath;
  std::optional<std::string> reportPath;
  std::optional<zevsim::LocalTime> clock;
  std::wstring argv0 = args.empty() ? std::wstring(L"zev-sim") : args[0];
  std::size_t i = 1;
  for (; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    const bool takesValue =
        arg == L"--machine" || arg == L"--report" || arg == L"--clock" || arg == L"--argv0";
    if (!takesValue) {
      if (arg.rfind(L"--", 0) == 0) {
        usageError("unknown option " + utf8FromWide(arg));
        return 2;
      }
      break;  // the package's arguments begin here
    }
    if (i + 1 >= args.size()) {
      usageError(utf8FromWide(arg) + " needs a value");
      return 2;
    }
    const std::wstring& value = args[++i];
    if (arg == L"--machine") {
      machinePath = utf8FromWide(value);
    } else if (arg == L"--report") {
      reportPath = utf8FromWide(value);
    } else if (arg == L"--clock") {
      clock = parseClock(utf8FromWide(value));
      if (!clock) {
        usageError("--clock takes YYYY-MM-DDThh:mm:ss, not " + utf8FromWide(value));
        return 2;
      }
    } else {
      argv0 = value;
    }
  }

  zevsim::MachineConfig config;
  if (machinePath) {
    zevsim::MachineFileResult loaded = zevsim::loadMachineFile(*machinePath);
    if (!loaded.config) {
      std::fprintf(stderr, "%s\n", loaded.error.c_str());
      return 2;
    }
    config = std::move(*loaded.config);
  } else {
    config = zevsim::demonstrationMachine();
  }

  const auto image = zev::firmwareImage();
  zevsim::Machine machine(config, std::vector<std::uint8_t>(image.begin(), image.end()));
  if (clock) {
    machine.setClock(*clock);
  }

  std::vector<std::wstring> packageArgs;
  packageArgs.push_back(argv0);
  for (; i < args.size(); ++i) {
    packageArgs.push_back(args[i]);
  }
  std::vector<const wchar_t*> argv;
  for (const std::wstring& a : packageArgs) {
    argv.push_back(a.c_str());
  }
  argv.push_back(nullptr);

  zev::platform::sim::bindMachine(&machine);
  const std::int32_t status = zev::packageMain(static_cast<int>(packageArgs.size()), argv.data());
  zev::platform::sim::bindMachine(nullptr);
  std::fflush(stdout);

  for (const zevsim::MessageBoxRecord& box : machine.messageBoxes()) {
    std::fprintf(stderr, "[message box] %s: %s\n", shownText(box.caption, true).c_str(),
                 shownText(box.text, true).c_str());
  }
  if (reportPath) {
    std::ofstream report(*reportPath, std::ios::binary | std::ios::trunc);
    report << zevsim::reportJson(machine, status);
    if (!report) {
      std::fprintf(stderr, "zev-sim: cannot write the report %s\n", reportPath->c_str());
    }
  }
  return status;
}

}  // namespace zevlauncher
