// BAppFileInfo: the application identity stored in an executable's resources
// (signature, flags, version, icons), read back from the executable file.
// The resources are an ELF section of the file (see ResourceFormat.h).
#pragma once

#include <Bitmap.h>
#include <File.h>

#include <string>
#include <vector>

enum version_kind : uint32 {
	B_APP_VERSION_KIND = 0,
	B_SYSTEM_VERSION_KIND = 1,
};

enum : uint32 {
	B_DEVELOPMENT_VERSION = 0,
	B_ALPHA_VERSION = 1,
	B_BETA_VERSION = 2,
	B_GAMMA_VERSION = 3,
	B_GOLDEN_MASTER_VERSION = 4,
	B_FINAL_VERSION = 5,
};

struct version_info {
	uint32 major = 0;
	uint32 middle = 0;
	uint32 minor = 0;
	uint32 variety = 0;
	uint32 internal = 0;
	char short_info[64] = {};
	char long_info[256] = {};
};

class BAppFileInfo {
public:
	BAppFileInfo() = default;
	explicit BAppFileInfo(BFile* file);
	// Reads the resources at once; the file is not kept.
	status_t SetTo(BFile* file);
	// B_OK when the file carries application resources; B_ENTRY_NOT_FOUND
	// when it carries none (or is no executable), B_BAD_DATA when they are
	// damaged.
	status_t InitCheck() const { return fInit; }

	// Each getter gives B_ENTRY_NOT_FOUND when the resources lack the item.
	status_t GetSignature(char* signature) const; // B_MIME_TYPE_LENGTH bytes
	status_t GetAppFlags(uint32* flags) const;
	status_t GetVersionInfo(version_info* info, version_kind kind) const;
	status_t GetType(char* type) const; // B_MIME_TYPE_LENGTH bytes
	// The bitmap must be 32x32 (B_LARGE_ICON) or 16x16 (B_MINI_ICON), B_CMAP8.
	status_t GetIcon(BBitmap* icon, icon_size which) const;
	// The supported MIME types declared in the resources.
	status_t GetSupportedTypes(std::vector<std::string>* types) const;

private:
	status_t fInit = B_NO_INIT;
	std::string fSignature;
	std::string fType;
	uint32 fFlags = 0;
	version_info fVersion;
	version_info fSystemVersion;
	bool fHasSignature = false;
	bool fHasType = false;
	bool fHasFlags = false;
	bool fHasVersion = false;
	bool fHasSystemVersion = false;
	std::vector<uint8> fLargeIcon;
	std::vector<uint8> fMiniIcon;
	std::vector<std::string> fSupportedTypes;
};
