#include <AppFileInfo.h>
#include <File.h>
#include <MimeType.h>

#include "MimeDataFiles.h"
#include "PreferredApp.h"

#include "AtomicFile.h"
#include "BoundedCommand.h"
#include "FreedesktopFormats.h"
#include "XdgPaths.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace BPrivate;

namespace {

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

status_t update_mime_database(const std::string& dataHome)
{
	return run_bounded({"update-mime-database", dataHome + "/mime"}, kHelperLimit);
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
