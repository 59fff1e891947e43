// What the library needs from the operating system, behind one replaceable
// object. The library carries a portable default (documented in
// docs/architecture.md); the platform layer installs the Windows services in
// the product and its stand-in services in native builds.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "lib/stream.h"
#include "lib/strings.h"

class TVelSystemServices {
 public:
  virtual ~TVelSystemServices() = default;

  // Comparison in the user's default locale: < 0, 0 or > 0.
  virtual int CompareText(StringView a, StringView b);  // without regard to case
  virtual int CompareStr(StringView a, StringView b);   // with regard to case
  // Upper-cases in the user's default locale (used for hashing names).
  virtual String UpperCase(StringView text);

  // The system ANSI code page. Conversion never fails: unmappable
  // characters become '?'.
  virtual String AnsiToUnicode(std::string_view bytes);
  virtual std::string UnicodeToAnsi(StringView text);

  // Opens an existing file for reading, shared for reading and writing by
  // others. Returns null and sets error to the system's text on failure.
  virtual std::unique_ptr<TStream> OpenFileRead(const String& path, String& error);
  // Creates or truncates a file for writing (shared for reading).
  virtual std::unique_ptr<TStream> CreateFileWrite(const String& path, String& error);
  // Clears the file's attributes (read-only, hidden, system). False when the
  // file does not exist or the attributes cannot be changed.
  virtual bool ClearFileAttributes(const String& path);

  // The process command line, as GetCommandLineW gives it.
  virtual String CommandLine();
};

// The services in force. Never null.
TVelSystemServices& VelSystem();
// Installs other services (the platform layer does so at start-up); the
// caller keeps ownership. Passing null restores the library's default.
void SetVelSystem(TVelSystemServices* services);

// Shorthands.
inline int CompareTextLocale(StringView a, StringView b) { return VelSystem().CompareText(a, b); }
// Equal lengths and equal without regard to case in the user's locale.
bool SameTextLocale(StringView a, StringView b);
// text begins with prefix, without regard to case in the user's locale; a
// text shorter than the prefix never does.
bool StartsTextLocale(StringView text, StringView prefix);
inline String AnsiToUnicode(std::string_view bytes) { return VelSystem().AnsiToUnicode(bytes); }
inline std::string UnicodeToAnsi(StringView text) { return VelSystem().UnicodeToAnsi(text); }

// Raising forms: EFOpenError / EFCreateError with the system's text.
std::unique_ptr<TStream> OpenFileStream(const String& path);
std::unique_ptr<TStream> CreateFileStream(const String& path);
