#include <AppFileInfo.h>
#include <File.h>
#include <MimeType.h>

#include "AtomicFile.h"
#include "BoundedCommand.h"
#include "CMap8Png.h"
#include "FreedesktopFormats.h"
#include "UniqueFd.h"
#include "XdgPaths.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace BPrivate;

namespace {

// update-mime-database takes milliseconds on a user's database; a helper
// that hangs must not hang the caller with it.
constexpr std::chrono::milliseconds kHelperLimit = std::chrono::seconds(20);
constexpr char kSignatureKey[] = "X-Tamsel-Signature";

// The freedesktop name of a type or signature: "/" becomes "-"
// ("text/x-list" is the package "text-x-list.xml" and the icon "text-x-list").
std::string flat_name(const std::string& type)
{
	std::string name = type;
	for (char& c : name) {
		if (c == '/')
			c = '-';
	}
	return name;
}

std::string lower_case(std::string text)
{
	for (char& c : text) {
		if (c >= 'A' && c <= 'Z')
			c = char(c - 'A' + 'a');
	}
	return text;
}

bool types_file_lists(const std::string& path, const std::string& type)
{
	std::string contents;
	if (!read_whole_file(path, &contents))
		return false;
	const bool supertypeOnly = type.find('/') == std::string::npos;
	size_t position = 0;
	while (position < contents.size()) {
		size_t end = contents.find('\n', position);
		if (end == std::string::npos)
			end = contents.size();
		std::string_view line(contents.data() + position, end - position);
		position = end + 1;
		if (supertypeOnly) {
			size_t slash = line.find('/');
			if (slash != std::string_view::npos && equal_ignoring_case(line.substr(0, slash), type))
				return true;
		} else if (equal_ignoring_case(line, type)) {
			return true;
		}
	}
	return false;
}

std::string package_path(const std::string& dataHome, const std::string& type)
{
	return dataHome + "/mime/packages/" + flat_name(type) + ".xml";
}

std::string icon_directory(const std::string& dataHome, int32 side, const char* context)
{
	std::string size = std::to_string(side);
	return dataHome + "/icons/hicolor/" + size + "x" + size + "/" + context;
}

status_t update_mime_database(const std::string& dataHome)
{
	return run_bounded({"update-mime-database", dataHome + "/mime"}, kHelperLimit);
}

void update_desktop_database(const std::string& dataHome)
{
	// Only refreshes the "open with" cache; desktops that lack the helper
	// read the entries themselves.
	run_bounded({"update-desktop-database", dataHome + "/applications"}, kHelperLimit);
}

status_t write_icon(const std::string& dataHome, const char* context, const std::string& name,
	const std::vector<uint8>& pixels, int32 side)
{
	if (pixels.size() != size_t(side * side))
		return B_BAD_VALUE;
	std::string directory = icon_directory(dataHome, side, context);
	status_t status = make_directories(directory);
	if (status != B_OK)
		return status;
	return write_cmap8_png(directory + "/" + name + ".png", pixels.data(), side, side);
}

void remove_icons(const std::string& dataHome, const char* context, const std::string& name)
{
	for (int32 side : {int32(B_LARGE_ICON), int32(B_MINI_ICON)})
		remove_file(icon_directory(dataHome, side, context) + "/" + name + ".png");
}

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

// Makes the application of `signature` open the type: a desktop entry for
// the running application, and the default in mimeapps.list.
void install_preferred_app(const std::string& dataHome, const std::string& type,
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

// Takes the type out of our desktop entries (removing those left with no
// type) and out of the default applications.
void remove_preferred_app(const std::string& dataHome, const std::string& type)
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

status_t copy_text(const std::string& text, char* buffer)
{
	size_t length = text.size() < B_MIME_TYPE_LENGTH - 1 ? text.size() : B_MIME_TYPE_LENGTH - 1;
	std::memcpy(buffer, text.data(), length);
	buffer[length] = '\0';
	return B_OK;
}

} // namespace

BMimeType::BMimeType(const char* type)
{
	SetTo(type);
}

status_t BMimeType::SetTo(const char* type)
{
	*this = BMimeType();
	if (!IsValid(type))
		return fInit = B_BAD_VALUE;
	fType = type;
	return fInit = B_OK;
}

bool BMimeType::IsValid(const char* type)
{
	if (type == nullptr)
		return false;
	size_t length = std::strlen(type);
	if (length == 0 || length >= B_MIME_TYPE_LENGTH)
		return false;
	constexpr std::string_view separators = "()<>@,;:\\\"[]?=";
	size_t slash = std::string_view::npos;
	for (size_t i = 0; i < length; i++) {
		char c = type[i];
		if (c <= 0x20 || c >= 0x7f || separators.find(c) != std::string_view::npos)
			return false;
		if (c == '/') {
			if (slash != std::string_view::npos)
				return false;
			slash = i;
		}
	}
	return slash != 0 && slash != length - 1;
}

bool BMimeType::IsInstalled() const
{
	if (fInit != B_OK)
		return false;
	std::string dataHome = xdg_data_home();
	if (!dataHome.empty() && types_file_lists(dataHome + "/mime/types", fType))
		return true;
	for (const std::string& dir : xdg_data_dirs()) {
		if (types_file_lists(dir + "/mime/types", fType))
			return true;
	}
	return false;
}

status_t BMimeType::Install()
{
	if (fInit != B_OK)
		return fInit;
	// The freedesktop database has no entries for supertypes alone.
	if (fType.find('/') == std::string::npos)
		return B_BAD_VALUE;
	if (IsInstalled())
		return B_FILE_EXISTS;
	const std::string dataHome = xdg_data_home();
	if (dataHome.empty())
		return B_ENTRY_NOT_FOUND;

	const std::string package = package_path(dataHome, fType);
	status_t status = make_directories(dataHome + "/mime/packages");
	if (status != B_OK)
		return status;
	const std::string iconName = flat_name(fType);
	status = write_file_atomically(package,
		mime_package_xml(fType, fShort.empty() ? fLong : fShort, fExtensions, iconName));
	if (status != B_OK)
		return status;
	status = update_mime_database(dataHome);
	if (status == B_OK && !types_file_lists(dataHome + "/mime/types", fType))
		status = B_ERROR; // the helper ran but did not take the package
	if (status != B_OK) {
		remove_file(package);
		// A helper that ran and failed may have rewritten part of the
		// database: rebuild it without the package. One that is missing or
		// hung is not run again.
		if (status == B_ERROR)
			update_mime_database(dataHome);
		return status;
	}

	if (!fLargeIcon.empty())
		write_icon(dataHome, "mimetypes", iconName, fLargeIcon, B_LARGE_ICON);
	if (!fMiniIcon.empty())
		write_icon(dataHome, "mimetypes", iconName, fMiniIcon, B_MINI_ICON);
	if (!fPreferredApp.empty())
		install_preferred_app(dataHome, fType, fPreferredApp);
	return B_OK;
}

status_t BMimeType::Delete()
{
	if (fInit != B_OK)
		return fInit;
	if (fType.find('/') == std::string::npos)
		return B_BAD_VALUE;
	const std::string dataHome = xdg_data_home();
	if (dataHome.empty())
		return B_ENTRY_NOT_FOUND;
	const std::string package = package_path(dataHome, fType);
	const bool ours = file_exists(package);
	// A user database that still lists the type after our package went
	// (an earlier update failed) is rebuilt as well.
	const bool inUserDatabase = types_file_lists(dataHome + "/mime/types", fType);
	if (!ours && !inUserDatabase)
		return IsInstalled() ? B_NOT_ALLOWED : B_ENTRY_NOT_FOUND;

	if (ours) {
		status_t status = remove_file(package);
		if (status != B_OK)
			return status;
	}
	remove_icons(dataHome, "mimetypes", flat_name(fType));
	remove_preferred_app(dataHome, fType);
	status_t status = update_mime_database(dataHome);
	if (status != B_OK)
		return status;
	return IsInstalled() ? B_NOT_ALLOWED : B_OK;
}

status_t BMimeType::SetShortDescription(const char* description)
{
	if (fInit != B_OK)
		return fInit;
	if (description == nullptr || std::strlen(description) >= B_MIME_TYPE_LENGTH
		|| !is_plain_text(description))
		return B_BAD_VALUE;
	fShort = description;
	return B_OK;
}

status_t BMimeType::SetLongDescription(const char* description)
{
	if (fInit != B_OK)
		return fInit;
	if (description == nullptr || std::strlen(description) >= B_MIME_TYPE_LENGTH
		|| !is_plain_text(description))
		return B_BAD_VALUE;
	// The freedesktop database has one description; the long one stands in
	// when there is no short one.
	fLong = description;
	return B_OK;
}

status_t BMimeType::SetPreferredApp(const char* signature, app_verb verb)
{
	if (fInit != B_OK)
		return fInit;
	if (verb != B_OPEN)
		return B_BAD_VALUE;
	if (signature == nullptr) {
		fPreferredApp.clear();
		return B_OK;
	}
	if (!IsValid(signature))
		return B_BAD_VALUE;
	fPreferredApp = signature;
	return B_OK;
}

status_t BMimeType::SetFileExtensions(const BMessage* extensions)
{
	if (fInit != B_OK)
		return fInit;
	std::vector<std::string> list;
	if (extensions != nullptr) {
		const char* extension = nullptr;
		for (int32 i = 0; extensions->FindString("extensions", i, &extension) == B_OK; i++) {
			std::string_view text = extension;
			if (!text.empty() && text[0] == '.')
				text.remove_prefix(1);
			// An extension goes into a glob pattern: no pattern characters.
			if (text.empty() || !is_plain_text(text)
				|| text.find_first_of("/*?[]\\\t\r\n") != std::string_view::npos)
				return B_BAD_VALUE;
			list.emplace_back(text);
		}
	}
	fExtensions = std::move(list);
	return B_OK;
}

status_t BMimeType::SetIcon(const BBitmap* icon, icon_size which)
{
	if (fInit != B_OK)
		return fInit;
	if (which != B_LARGE_ICON && which != B_MINI_ICON)
		return B_BAD_VALUE;
	std::vector<uint8>& pixels = which == B_LARGE_ICON ? fLargeIcon : fMiniIcon;
	if (icon == nullptr) {
		pixels.clear();
		return B_OK;
	}
	const int32 side = int32(which);
	BRect bounds = icon->Bounds();
	if (icon->InitCheck() != B_OK || icon->ColorSpace() != B_CMAP8
		|| bounds.IntegerWidth() + 1 != side || bounds.IntegerHeight() + 1 != side)
		return B_BAD_VALUE;
	const uint8* bits = static_cast<const uint8*>(icon->Bits());
	pixels.clear();
	for (int32 row = 0; row < side; row++)
		pixels.insert(pixels.end(), bits + row * icon->BytesPerRow(),
			bits + row * icon->BytesPerRow() + side);
	return B_OK;
}

status_t BMimeType::GetShortDescription(char* description) const
{
	if (description == nullptr)
		return B_BAD_VALUE;
	description[0] = '\0';
	if (fInit != B_OK)
		return fInit;
	if (!fShort.empty())
		return copy_text(fShort, description);
	size_t slash = fType.find('/');
	if (slash == std::string::npos)
		return B_ENTRY_NOT_FOUND;
	// The database keeps one XML file per type, named in lower case.
	const std::string file = "/mime/" + lower_case(fType.substr(0, slash)) + "/"
		+ lower_case(fType.substr(slash + 1)) + ".xml";
	std::vector<std::string> dirs = xdg_data_dirs();
	std::string dataHome = xdg_data_home();
	if (!dataHome.empty())
		dirs.insert(dirs.begin(), dataHome);
	for (const std::string& dir : dirs) {
		std::string xml;
		std::string comment;
		if (read_whole_file(dir + file, &xml) && mime_xml_comment(xml, &comment))
			return copy_text(comment, description);
	}
	return B_ENTRY_NOT_FOUND;
}

status_t BMimeType::GetPreferredApp(char* signature, app_verb verb) const
{
	if (signature == nullptr || verb != B_OPEN)
		return B_BAD_VALUE;
	signature[0] = '\0';
	if (fInit != B_OK)
		return fInit;
	if (!fPreferredApp.empty())
		return copy_text(fPreferredApp, signature);
	std::string configHome = xdg_config_home();
	std::string dataHome = xdg_data_home();
	std::string contents;
	if (configHome.empty() || !read_whole_file(configHome + "/mimeapps.list", &contents))
		return B_ENTRY_NOT_FOUND;
	// Only the kit's own desktop entries say which signature they stand for.
	for (const std::string& id : mimeapps_defaults(contents, fType)) {
		std::string text;
		std::string value;
		if (!dataHome.empty() && read_whole_file(dataHome + "/applications/" + id, &text)
			&& desktop_entry_value(text, kSignatureKey, &value) && IsValid(value.c_str()))
			return copy_text(value, signature);
	}
	return B_ENTRY_NOT_FOUND;
}
