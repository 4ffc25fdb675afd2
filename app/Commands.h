// The program's command codes: the `what` of every message that a menu item,
// button, check box, text field or file panel sends, and of the notices the
// application hands to the main window. Senders and handlers both use these
// names; the codes themselves are stored nowhere, but tests and other tools
// may send them, so they never change.
#pragma once

#include <SupportDefs.h>

enum : uint32 {
	// The "List" and "Help" menus and the two buttons along the bottom
	// (main window, handled by MainWindow::MessageReceived).
	kMsgNewList = 'NWLS',
	kMsgSaveList = 'SVLS',
	kMsgOpenList = 'OPLS',
	kMsgClose = 'CLOS',
	kMsgReadme = 'RDME',
	kMsgEncode = 'ENCD',

	// The "Files" tab's buttons.
	kMsgAddFiles = 'ADDF',
	kMsgRemoveFiles = 'REMV',
	kMsgMoveUp = 'MVUP',
	kMsgMoveDown = 'MVDN',

	// File panels without a target of their own: their results reach the
	// application, which hands them to the main window. "refs", or
	// "directory" and "name".
	kMsgSavePanel = 'SLPM',
	kMsgOpenPanel = 'OLPM',
	kMsgLocatePanel = 'LOGP',

	// The "Gogo options" tab: every control sends kMsgEncoderOption with
	// "encoder_what" naming it; its own two "Browse..." steps stay inside it.
	kMsgEncoderOption = 'ENCO',
	kMsgEncoderBrowse = 'BROW',
	kMsgEncoderDirPanel = 'DPNL',

	// The "Program options" tab.
	kMsgLocationModified = 'LOCM',
	kMsgLocateEncoder = 'LOCG',
	kMsgDontCloseOnAdd = 'DCOA',
	kMsgDontClearOnOpen = 'DCOO',
	kMsgSelfRegister = 'SRMT',
	kMsgRegisterNow = 'RMTN',
	kMsgUnregisterNow = 'UMTN',

	// The progress window's buttons.
	kMsgSkipFile = 'SKIP',
	kMsgStopEncoding = 'STOP',

	// A roster quit notice passed on by the application ("be:ref", "be:team"
	// and how the encoder ended).
	kMsgEncoderQuit = 'EQUT',
};
