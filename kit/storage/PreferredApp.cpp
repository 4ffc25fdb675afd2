// The desktop entry and mimeapps.list default that let the running
// application open a type it is the preferred application of.
#include <AppFileInfo.h>
#include <File.h>

#include "MimeDataFiles.h"
#include "PreferredApp.h"

#include "AtomicFile.h"
#include "FreedesktopFormats.h"
#include "UniqueFd.h"
#include "XdgPaths.h"

#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace BPrivate;

namespace {

// What the running application says of itself in its resources.
struct RunningApp {
	std::string executable;
	std::string signature;
	std::string name;
	std::vector<uint8> largeIcon;
	std::vector<uint8> miniIcon;
};

bool running_app(RunningApp* app)
{
	std::vector<char> buffer(PATH_MAX + 1);
	ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
	if (length <= 0 || size_t(length) >= buffer.size())
		return false;
	app->executable.assign(buffer.data(), size_t(length));
	// An executable replaced while running has no path to start it by.
	static constexpr std::string_view kDeleted = " (deleted)";
	if (app->executable.size() > kDeleted.size()
		&& app->executable.compare(app->executable.size() - kDeleted.size(), kDeleted.size(),
			   kDeleted) == 0)
		return false;

	BFile file("/proc/self/exe", B_READ_ONLY);
	BAppFileInfo info(&file);
	char signature[B_MIME_TYPE_LENGTH];
	if (info.GetSignature(signature) != B_OK)
		return false;
	app->signature = signature;
	version_info version;
	if (info.GetVersionInfo(&version, B_APP_VERSION_KIND) == B_OK && version.short_info[0] != '\0')
		app->name = version.short_info;
	for (icon_size which : {B_LARGE_ICON, B_MINI_ICON}) {
		BBitmap icon(BRect(0, 0, float(which) - 1, float(which) - 1), B_CMAP8);
		if (info.GetIcon(&icon, which) != B_OK)
			continue;
		const uint8* bits = static_cast<const uint8*>(icon.Bits());
		std::vector<uint8>& pixels = which == B_LARGE_ICON ? app->largeIcon : app->miniIcon;
		for (int32 row = 0; row < int32(which); row++)
			pixels.insert(pixels.end(), bits + row * icon.BytesPerRow(),
				bits + row * icon.BytesPerRow() + int32(which));
	}
	return true;
}

// Our desktop entries carry the signature they were written for.
bool is_our_entry(const std::string& text)
{
	std::string marker;
	return desktop_entry_value(text, kSignatureKey, &marker);
}

bool desktop_entry_exists(const std::string& dataHome, const std::string& id)
{
	if (file_exists(dataHome + "/applications/" + id))
		return true;
	for (const std::string& dir : xdg_data_dirs()) {
		if (file_exists(dir + "/applications/" + id))
			return true;
	}
	return false;
}

status_t set_default_application(const std::string& type, const std::string& id)
{
	std::string configHome = xdg_config_home();
	if (configHome.empty())
		return B_ENTRY_NOT_FOUND;
	status_t status = make_directories(configHome, 0700);
	if (status != B_OK)
		return status;
	std::string path = configHome + "/mimeapps.list";
	std::string contents;
	// A list that is there but cannot be read is not written over as if it
	// were empty: the user's other defaults would be gone.
	status = read_file(path, &contents);
	if (status != B_OK && status != B_ENTRY_NOT_FOUND)
		return status;
	return write_file_atomically(path, mimeapps_set_default(contents, type, id));
}

// Where the desktop entry of an application points: a link named plainly
// ("<data home>/<flat signature>/launch") to the executable, so that no
// launcher has to cope with the characters an executable's path may hold
// (xdg-open without a desktop splits Exec at every space, GLib refuses a
// path with "%%"). Made anew at each installation; empty when it cannot be.
std::string launcher_path(const std::string& dataHome, const std::string& flatSignature)
{
	return dataHome + "/" + flatSignature + "/launch";
}

std::string update_launcher(const std::string& dataHome, const std::string& flatSignature,
	const std::string& executable)
{
	const std::string directory = dataHome + "/" + flatSignature;
	const std::string link = launcher_path(dataHome, flatSignature);
	struct stat existing;
	if (lstat(link.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode))
		return {}; // something else of that name: not ours to replace
	if (make_directories(directory) != B_OK)
		return {};
	// Made aside and renamed over, so that the link is never missing.
	const std::string aside = directory + "/.launch." + std::to_string(getpid());
	unlink(aside.c_str());
	if (symlink(executable.c_str(), aside.c_str()) != 0)
		return {};
	if (rename(aside.c_str(), link.c_str()) != 0) {
		unlink(aside.c_str());
		return {};
	}
	if (const UniqueFd dir(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir.IsValid())
		fsync(dir.Get());
	return link;
}

void remove_launcher(const std::string& dataHome, const std::string& flatSignature)
{
	const std::string link = launcher_path(dataHome, flatSignature);
	struct stat existing;
	if (lstat(link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
		unlink(link.c_str());
	rmdir((dataHome + "/" + flatSignature).c_str()); // only when nothing else is in it
}

} // namespace

void BPrivate::install_preferred_app(const std::string& dataHome, const std::string& type,
	const std::string& signature)
{
	const std::string id = flat_name(signature) + ".desktop";
	RunningApp app;
	if (!running_app(&app) || !equal_ignoring_case(app.signature, signature)) {
		// Another application: it can only be pointed to if it has an entry.
		if (desktop_entry_exists(dataHome, id))
			set_default_application(type, id);
		return;
	}

	const std::string directory = dataHome + "/applications";
	const std::string path = directory + "/" + id;
	std::string existing;
	std::vector<std::string> types;
	const status_t found = read_file(path, &existing);
	if (found != B_OK && found != B_ENTRY_NOT_FOUND)
		return; // an entry of that name we cannot read: not ours to replace
	if (found == B_OK) {
		if (!is_our_entry(existing)) {
			// Someone else's entry of that name: used as it is.
			set_default_application(type, id);
			return;
		}
		std::string list;
		if (desktop_entry_value(existing, "MimeType", &list))
			types = split_list(list);
	}
	bool listed = false;
	for (const std::string& known : types)
		listed = listed || equal_ignoring_case(known, type);
	if (!listed)
		types.push_back(type);

	// A desktop entry is UTF-8 text: an executable path that is not cannot
	// be written into one.
	if (!is_plain_text(app.executable))
		return;
	DesktopEntryFields fields;
	fields.name = app.name.empty() ? app.signature.substr(app.signature.find('/') + 1) : app.name;
	const std::string launcher = update_launcher(dataHome, flat_name(app.signature), app.executable);
	fields.exec = desktop_exec_argument(launcher.empty() ? app.executable : launcher) + " %F";
	fields.mimeTypes = types;
	fields.signature = app.signature;
	const std::string iconName = flat_name(app.signature);
	bool haveIcon = false;
	if (!app.largeIcon.empty())
		haveIcon = write_icon(dataHome, "apps", iconName, app.largeIcon, B_LARGE_ICON) == B_OK;
	if (!app.miniIcon.empty())
		haveIcon = write_icon(dataHome, "apps", iconName, app.miniIcon, B_MINI_ICON) == B_OK
			|| haveIcon;
	fields.icon = haveIcon ? iconName : flat_name(type);

	if (make_directories(directory) != B_OK
		|| write_file_atomically(path, desktop_entry_text(fields)) != B_OK)
		return;
	set_default_application(type, id);
	update_desktop_database(dataHome);
}

void BPrivate::remove_preferred_app(const std::string& dataHome, const std::string& type)
{
	const std::string directory = dataHome + "/applications";
	bool changed = false;
	if (DIR* dir = opendir(directory.c_str())) {
		std::vector<std::string> names;
		while (dirent* entry = readdir(dir)) {
			std::string name = entry->d_name;
			if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0)
				names.push_back(std::move(name));
		}
		closedir(dir);
		for (const std::string& name : names) {
			const std::string path = directory + "/" + name;
			std::string text;
			std::string list;
			if (!read_whole_file(path, &text) || !is_our_entry(text)
				|| !desktop_entry_value(text, "MimeType", &list))
				continue;
			std::vector<std::string> kept;
			bool found = false;
			for (std::string& known : split_list(list)) {
				if (equal_ignoring_case(known, type))
					found = true;
				else
					kept.push_back(std::move(known));
			}
			if (!found)
				continue;
			changed = true;
			if (kept.empty()) {
				remove_file(path);
				remove_icons(dataHome, "apps", name.substr(0, name.size() - 8));
				remove_launcher(dataHome, name.substr(0, name.size() - 8));
			} else {
				std::string value;
				for (const std::string& known : kept)
					value += known + ";";
				write_file_atomically(path, desktop_entry_replace(text, "MimeType", value));
			}
		}
	}
	if (changed)
		update_desktop_database(dataHome);

	std::string configHome = xdg_config_home();
	if (configHome.empty())
		return;
	const std::string path = configHome + "/mimeapps.list";
	std::string contents;
	if (!read_whole_file(path, &contents))
		return;
	std::string edited = mimeapps_remove_type(contents, type);
	if (edited != contents)
		write_file_atomically(path, edited);
}

status_t BPrivate::remove_default_application(const std::string& type, const std::string& desktopId,
	std::vector<std::string>* left)
{
	left->clear();
	const std::string configHome = xdg_config_home();
	if (configHome.empty())
		return B_OK;
	const std::string path = configHome + "/mimeapps.list";
	std::string contents;
	const status_t status = read_file(path, &contents);
	if (status == B_ENTRY_NOT_FOUND)
		return B_OK;
	if (status != B_OK)
		return status;
	const std::string edited = mimeapps_remove_default(contents, type, desktopId);
	if (edited != contents) {
		const status_t written = write_file_atomically(path, edited);
		if (written != B_OK)
			return written;
	}
	*left = mimeapps_defaults(edited, type);
	return B_OK;
}
