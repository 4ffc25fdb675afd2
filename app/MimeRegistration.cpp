#include "TamselApp.h"

#include "Alerts.h"

#include <AppFileInfo.h>
#include <Bitmap.h>
#include <File.h>
#include <MimeType.h>

void TamselApp::RegisterMIMEType(bool showAlert)
{
	BMimeType type(kListMimeType);
	const char* result = nullptr;
	if (type.IsInstalled()) {
		result = "MIME type was already installed.";
	} else {
		type.SetShortDescription("Tamsel Gogo Frontend list");
		type.SetLongDescription("Tamsel Gogo Frontend list");
		type.SetPreferredApp(kAppSignature, B_OPEN);
		BMessage extensions(0);
		extensions.AddString("extensions", "tsq");
		type.SetFileExtensions(&extensions);

		BBitmap large(BRect(0, 0, 31, 31), B_CMAP8);
		BBitmap mini(BRect(0, 0, 15, 15), B_CMAP8);
		app_info info;
		GetAppInfo(&info);
		BFile executable(&info.ref, B_READ_ONLY);
		BAppFileInfo appFileInfo;
		appFileInfo.SetTo(&executable);
		appFileInfo.GetIcon(&large, B_LARGE_ICON);
		appFileInfo.GetIcon(&mini, B_MINI_ICON);
		type.SetIcon(&large, B_LARGE_ICON);
		type.SetIcon(&mini, B_MINI_ICON);

		result = type.Install() == B_OK ? "MIME type successfully installed."
										: "Error installing MIME type.";
	}
	if (showAlert)
		ShowInfoAlert("MimeInstalled", result);
}

void TamselApp::UnregisterMIMEType()
{
	BMimeType type(kListMimeType);
	const char* result = nullptr;
	if (type.IsInstalled()) {
		result = type.Delete() == B_OK ? "MIME type successfully deleted."
									   : "Error deleting MIME type.";
	} else {
		result = "Can't delete MIME type; it was not installed.";
	}
	ShowInfoAlert("MimeDeleted", result);
}
