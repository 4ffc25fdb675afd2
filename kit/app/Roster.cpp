#include <Roster.h>

#include <Entry.h>

#include "DefaultApplication.h"
#include "DesktopExec.h"
#include "FreedesktopFormats.h"
#include "Spawn.h"
#include "TeamRegistry.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using BPrivate::FindInPath;
using BPrivate::TeamRegistry;

// Starts an executable found at a path (links followed) and hands the new
// team to the registry.
status_t LaunchExecutable(const std::string& path, const std::vector<std::string>& arguments,
	team_id* team)
{
	if (path.empty())
		return B_ENTRY_NOT_FOUND;
	char* resolvedPath = realpath(path.c_str(), nullptr);
	if (resolvedPath == nullptr)
		return errno == ENOENT || errno == ENOTDIR ? B_ENTRY_NOT_FOUND : BPrivate::SpawnError(errno);
	std::string resolved(resolvedPath);
	free(resolvedPath);

	struct stat info;
	if (stat(resolved.c_str(), &info) != 0)
		return B_ENTRY_NOT_FOUND;
	if (!S_ISREG(info.st_mode) || access(resolved.c_str(), X_OK) != 0)
		return B_LAUNCH_FAILED_EXECUTABLE;

	entry_ref ref;
	if (get_ref_for_path(resolved.c_str(), &ref) != B_OK)
		return B_ENTRY_NOT_FOUND;

	std::vector<std::string> argv;
	argv.reserve(arguments.size() + 1);
	argv.push_back(path);
	argv.insert(argv.end(), arguments.begin(), arguments.end());

	// Its output is not ours to show; the tail of its standard error goes
	// with its quit notice.
	int errorPipe[2];
	if (pipe2(errorPipe, O_CLOEXEC) != 0)
		return B_NO_MEMORY;
	UniqueFd errorRead(errorPipe[0]);
	UniqueFd errorWrite(errorPipe[1]);
	BPrivate::SpawnOptions options;
	options.stderrFd = errorWrite.Get();
	pid_t pid = -1;
	const status_t status = BPrivate::Spawn(resolved, argv, &pid, options);
	errorWrite.Reset();
	if (status != B_OK)
		return status;
	TeamRegistry::Get().Add(pid, ref, std::move(errorRead));
	if (team != nullptr)
		*team = static_cast<team_id>(pid);
	return B_OK;
}

status_t CollectArguments(int argc, const char* const* args, std::vector<std::string>* out)
{
	if (argc < 0 || (argc > 0 && args == nullptr))
		return B_BAD_VALUE;
	for (int i = 0; i < argc; i++) {
		if (args[i] == nullptr)
			return B_BAD_VALUE;
		out->emplace_back(args[i]);
	}
	return B_OK;
}

status_t LaunchOpener(const std::string& document, team_id* team)
{
	std::string opener = FindInPath(TeamRegistry::Get().Opener());
	if (opener.empty())
		return B_LAUNCH_FAILED_APP_NOT_FOUND;
	return LaunchExecutable(opener, {document}, team);
}

using BPrivate::ExecArgument;
using BPrivate::ExpandExec;
using BPrivate::SplitExec;

status_t LaunchDesktopEntry(const std::string& desktopFile, const std::vector<std::string>& files,
	team_id* team)
{
	std::ifstream file(desktopFile);
	if (!file)
		return B_BAD_DATA;
	const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
	std::string exec;
	std::vector<ExecArgument> parsed;
	if (!BPrivate::desktop_entry_exec(text, &exec) || !SplitExec(exec, &parsed))
		return B_BAD_DATA;

	bool takesList = false;
	bool takesOne = false;
	for (const ExecArgument& argument : parsed) {
		if (argument.quoted)
			continue;
		if (argument.text == "%F" || argument.text == "%U")
			takesList = true;
		else if (argument.text.find("%f") != std::string::npos
			|| argument.text.find("%u") != std::string::npos)
			takesOne = true;
	}

	// A program that takes one file at a time is started once per file.
	std::vector<std::vector<std::string>> starts;
	if (takesOne && !takesList && files.size() > 1) {
		for (const std::string& file : files)
			starts.push_back(ExpandExec(parsed, files, &file));
	} else {
		starts.push_back(ExpandExec(parsed, files, files.empty() ? nullptr : &files.front()));
	}

	status_t result = B_LAUNCH_FAILED_APP_NOT_FOUND;
	bool started = false;
	for (const std::vector<std::string>& argv : starts) {
		if (argv.empty())
			continue;
		std::string program = FindInPath(argv.front());
		if (program.empty())
			continue;
		team_id launched = -1;
		status_t status = LaunchExecutable(
			program, std::vector<std::string>(argv.begin() + 1, argv.end()), &launched);
		if (status != B_OK) {
			result = status;
			continue;
		}
		if (!started && team != nullptr)
			*team = launched;
		started = true;
	}
	return started ? B_OK : result;
}

} // namespace

// ---- BRoster -------------------------------------------------------------

BRoster::BRoster() = default;
BRoster::~BRoster() = default;

status_t BRoster::Launch(const entry_ref* ref, int argc, const char* const* args,
	team_id* team) const
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	std::vector<std::string> arguments;
	if (status_t status = CollectArguments(argc, args, &arguments); status != B_OK)
		return status;
	return LaunchExecutable(ref->Path(), arguments, team);
}

status_t BRoster::Launch(const entry_ref* ref, const BMessage*, team_id* team) const
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	std::string path = ref->Path();
	struct stat info;
	if (path.empty() || lstat(path.c_str(), &info) != 0)
		return B_ENTRY_NOT_FOUND;
	return LaunchOpener(path, team);
}

status_t BRoster::Launch(const char* mimeType, int argc, const char* const* args,
	team_id* team) const
{
	if (mimeType == nullptr || mimeType[0] == '\0')
		return B_BAD_VALUE;
	std::vector<std::string> arguments;
	if (status_t status = CollectArguments(argc, args, &arguments); status != B_OK)
		return status;

	std::string desktopFile
		= BPrivate::FindDesktopFile(BPrivate::QueryDefaultApplication(mimeType));
	if (!desktopFile.empty() && LaunchDesktopEntry(desktopFile, arguments, team) == B_OK)
		return B_OK;
	// No usable preferred application: let the desktop's opener decide.
	if (arguments.empty())
		return B_LAUNCH_FAILED_APP_NOT_FOUND;
	return LaunchOpener(arguments.front(), team);
}

status_t BRoster::StartWatching(BMessenger target, uint32 eventMask) const
{
	return TeamRegistry::Get().StartWatching(target, eventMask);
}

status_t BRoster::StopWatching(BMessenger target) const
{
	return TeamRegistry::Get().StopWatching(target);
}

status_t BRoster::GetAppInfo(const char* signature, app_info* info) const
{
	if (signature == nullptr || info == nullptr)
		return B_BAD_VALUE;
	BPrivate::AppInfoProvider provider = TeamRegistry::Get().CurrentAppInfoProvider();
	if (provider == nullptr)
		return B_ERROR;
	return provider(signature, info);
}

namespace {
const BRoster gRoster;
} // namespace

const BRoster* be_roster = &gRoster;

status_t kill_team(team_id team)
{
	if (team <= 0)
		return B_BAD_TEAM_ID;
	return TeamRegistry::Get().Kill(team);
}

void BPrivate::SetDesktopOpener(const char* path)
{
	TeamRegistry::Get().SetOpener(path);
}

void BPrivate::SetAppInfoProvider(AppInfoProvider provider)
{
	TeamRegistry::Get().SetAppInfoProvider(provider);
}
