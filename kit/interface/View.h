// BView: a rectangle of a window with a name, a resizing mode, a colour and
// children. Its state lives here on the client side; the window sends every
// change to the display in its next batch.
#pragma once

#include <DisplayProtocol.h>
#include <Handler.h>
#include <InterfaceDefs.h>

#include <memory>
#include <string>
#include <vector>

class BWindow;
class BMessage;

class BView : public BHandler {
public:
	BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
	~BView() override;

	// The child belongs to this view from now on and is deleted with it.
	virtual void AddChild(BView* child, BView* before = nullptr);
	// The child is given back to the caller.
	virtual bool RemoveChild(BView* child);
	bool RemoveSelf();
	int32 CountChildren() const;
	BView* ChildAt(int32 index) const;
	BView* Parent() const { return fParent; }
	// Searches this view's subtree (this view included) by name.
	BView* FindView(const char* name) const;

	BWindow* Window() const { return fWindow; }

	// Frame in the parent's coordinates; bounds start at 0, 0.
	BRect Frame() const;
	BRect Bounds() const;
	void MoveTo(float x, float y);
	void MoveTo(BPoint where) { MoveTo(where.x, where.y); }
	void MoveBy(float dx, float dy);
	void ResizeTo(float width, float height);
	void ResizeBy(float dx, float dy);
	virtual void GetPreferredSize(float* width, float* height);
	// Keeps the left and top edges.
	virtual void ResizeToPreferred();

	uint32 ResizingMode() const { return fResizingMode; }
	void SetResizingMode(uint32 mode);
	uint32 Flags() const { return fFlags; }
	void SetFlags(uint32 flags);

	void SetViewColor(rgb_color color);
	void SetViewColor(uint8 r, uint8 g, uint8 b, uint8 a = 255) { SetViewColor(rgb_color{r, g, b, a}); }
	rgb_color ViewColor() const { return fViewColor; }

	virtual void Show();
	virtual void Hide();
	bool IsHidden() const;

	float StringWidth(const char* text) const;

	void MessageReceived(BMessage* message) override;

	// Hooks.
	virtual void AttachedToWindow() {}
	virtual void AllAttached() {}
	virtual void DetachedFromWindow() {}
	virtual void FrameResized(float newWidth, float newHeight) { (void)newWidth; (void)newHeight; }

	// Kit-internal.
	BPrivate::ViewId Id() const { return fId; }
	virtual BPrivate::ViewKind Kind() const { return BPrivate::ViewKind::Plain; }
	// Fills the state the display shows; subclasses add their own fields.
	virtual void FillState(BPrivate::ViewState& state) const;
	// Input from the display aimed at this view; returns true when handled.
	virtual bool HandleInput(BMessage* message);
	// Sends this view's state to the display with the window's next flush.
	void Invalidate();
	// Records an operation (list changes) in the window's batch.
	void AddOperation(BPrivate::Operation operation);

protected:
	// Subclasses that show extra children (a scroll view's target) use these.
	void SetWindow(BWindow* window);
	virtual void ParentResized(float dx, float dy);

private:
	friend class BWindow;
	void AttachTree(BWindow* window);
	void DetachTree();
	void SendCreateTree();

	BPrivate::ViewId fId;
	BRect fFrame;
	std::string fName;
	uint32 fResizingMode;
	uint32 fFlags;
	rgb_color fViewColor{255, 255, 255, 255};
	bool fHasViewColor = false;
	bool fHidden = false;
	BView* fParent = nullptr;
	BWindow* fWindow = nullptr;
	std::vector<std::unique_ptr<BView>> fChildren;
};
