// Who the program works for when it runs as root on someone's behalf (sudo,
// pkexec), and what of their environment root must not trust.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

struct InvokingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;   // from the password file, without a trailing slash
};

// True when running as root for another user: SUDO_UID or PKEXEC_UID is set.
bool ActingForAnotherUser();

// PKEXEC_UID, else SUDO_UID (both only as root), else the real user; group and
// home come from the password file. nullopt when the user has no usable entry.
std::optional<InvokingUser> FindInvokingUser();

// The user's autostart folder: $XDG_CONFIG_HOME/autostart when xdgConfigHome lies
// inside the home, else ~/.config/autostart.
std::string AutostartFolderOf(const InvokingUser& user, const char* xdgConfigHome);

// The manifest's real path when root may load it on another user's behalf:
// the file and every folder above it belong to root and no one else may write
// them (a sticky folder aside), so the user can neither edit nor swap it.
std::optional<std::string> RootOwnedManifest(const std::string& manifest);

// Removes the variables that make Qt or the libraries it loads read code from
// a folder of the user's choosing. Only acts when ActingForAnotherUser().
void ForgetUserCodePaths();

}  // namespace platform
