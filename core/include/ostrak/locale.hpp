#pragma once

// The character type every program of the workstation runs with. Notes, names and messages are
// UTF-8, and Qt and ICU expect the process's character type to say so; a minimal system, a
// container, cron or `env -i` starts programs in the "C" locale, where Qt would switch by itself
// and print four lines of warning to standard error first. Called first thing in main, while
// the process has one thread.
namespace ostrak::locale {

// When the environment's character type is not UTF-8, switches it (and only it: messages,
// numbers and collation stay as the user set them) to C.UTF-8, in this process and in the
// environment that the process's children inherit. Silent; a system without C.UTF-8 keeps its
// locale.
void useUtf8CharacterType();

}  // namespace ostrak::locale
