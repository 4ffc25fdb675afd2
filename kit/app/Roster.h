// BRoster: starts programs, follows their end, and opens documents.
#pragma once

#include <AppDefs.h>
#include <Messenger.h>

#include <atomic>

class BRoster {
public:
	BRoster();
	~BRoster();

	// Starts the executable with the arguments (after its own path, which the
	// roster supplies as argv[0]) through posix_spawn, never a shell, in a
	// process group of its own. An
	// executable that cannot be started returns an error and starts nothing.
	status_t Launch(const entry_ref* ref, int argc, const char* const* args,
		team_id* team = nullptr) const;
	// Opens a document with the desktop's opener.
	status_t Launch(const entry_ref* ref, const BMessage* initialMessage = nullptr,
		team_id* team = nullptr) const;
	// Starts the preferred application of a MIME type with the arguments,
	// through the desktop's opener.
	status_t Launch(const char* mimeType, int argc, const char* const* args,
		team_id* team = nullptr) const;

	// With B_REQUEST_QUIT: B_SOME_APP_QUIT with "be:ref" (the executable's
	// entry_ref) and "be:team" whenever a team launched by this roster ends,
	// and how it ended: "be:exit_status" or "be:signal" (int32), "be:killed"
	// (bool: kill_team was sent to it) and "be:stderr" (raw data: the last
	// bytes of its standard error). A launched team's standard output goes
	// to /dev/null.
	status_t StartWatching(BMessenger target, uint32 eventMask = B_REQUEST_QUIT) const;
	status_t StopWatching(BMessenger target) const;

	// Only the application of this process is known by its signature.
	status_t GetAppInfo(const char* signature, struct app_info* info) const;
};

extern const BRoster* be_roster;

// Ends the team and everything it started: SIGTERM to its process group (each
// launched team leads one), then SIGKILL to the group if it has not ended
// within two seconds. Never signals a reaped team's pid. B_BAD_TEAM_ID for a
// team that is unknown or has been reaped.
status_t kill_team(team_id team);

// Kit-internal: the program that launching a MIME type or a document runs
// (normally "xdg-open"); tests point it at a recorder.
namespace BPrivate {
// Null restores "xdg-open" (found on PATH).
void SetDesktopOpener(const char* path);
// Where BRoster::GetAppInfo finds the running application; BApplication
// installs itself here (it lives in a library above the roster's).
using AppInfoProvider = status_t (*)(const char* signature, struct app_info* info);
void SetAppInfoProvider(AppInfoProvider provider);
}
