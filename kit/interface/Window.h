// BWindow: a looper with a thread of its own that shows a tree of views.
#pragma once

#include <InterfaceDefs.h>
#include <Looper.h>
#include <View.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

class BView;

class BWindow : public BLooper {
public:
	BWindow(BRect frame, const char* title, window_type type, uint32 flags,
		uint32 workspace = B_CURRENT_WORKSPACE);
	BWindow(BRect frame, const char* title, window_look look, window_feel feel, uint32 flags,
		uint32 workspace = B_CURRENT_WORKSPACE);
	~BWindow() override;

	// Shows the window; the first Show also starts its thread.
	virtual void Show();
	virtual void Hide();
	bool IsHidden() const;

	void Quit() override;
	bool QuitRequested() override;

	void SetTitle(const char* title);
	const char* Title() const { return fTitle.c_str(); }
	// Frame in screen coordinates; bounds start at 0, 0.
	BRect Frame() const;
	BRect Bounds() const;
	void MoveTo(float x, float y);
	void MoveTo(BPoint where) { MoveTo(where.x, where.y); }
	void MoveBy(float dx, float dy);
	void ResizeTo(float width, float height);
	void ResizeBy(float dx, float dy);

	window_look Look() const { return fLook; }
	window_feel Feel() const { return fFeel; }
	uint32 Flags() const { return fFlags; }

	// The view belongs to the window from now on.
	void AddChild(BView* child, BView* before = nullptr);
	bool RemoveChild(BView* child);
	int32 CountChildren() const;
	BView* ChildAt(int32 index) const;
	BView* FindView(const char* name) const;

	void DispatchMessage(BMessage* message, BHandler* handler) override;
	void MessageReceived(BMessage* message) override;

	// Kit-internal.
	BPrivate::WindowId Id() const { return fId; }
	void MarkDirty(BView* view);
	void AddOperation(BPrivate::Operation operation);
	// Sends the pending batch now (the caller holds the lock).
	void Flush();
	BView* ViewForId(BPrivate::ViewId id) const;
	void RegisterView(BView* view);
	void UnregisterView(BView* view);

protected:
	void OuterUnlock() override;

private:
	void Init(BRect frame, const char* title, window_look look, window_feel feel, uint32 flags);
	void SendWindowUpdate();
	BPrivate::WindowState State() const;

	BPrivate::WindowId fId;
	std::string fTitle;
	BRect fFrame;
	window_look fLook;
	window_feel fFeel;
	uint32 fFlags;
	bool fHidden = true;
	int32 fShowLevel = 0;
	bool fStarted = false;
	std::unique_ptr<BView> fTopView; // holds the window's children
	std::vector<BPrivate::Operation> fPending;
	std::set<BPrivate::ViewId> fDirty;
	bool fWindowDirty = false;
	std::vector<BView*> fViews; // every attached view, for input routing
};
