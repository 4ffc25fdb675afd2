// A button (BButton): a push button; a click is K_INPUT_INVOKE.
#include "QtDisplayImpl.h"

#include <QPushButton>

#include <algorithm>

namespace BPrivate {

namespace {

class ButtonKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl& display, WindowRec& window, ViewRec*,
		QWidget* parent, const ViewState& state) const override
	{
		auto rec = std::make_unique<ViewRec>();
		auto* button = new QPushButton(parent);
		QObject::connect(button, &QPushButton::clicked, button,
			[impl = &display, wid = window.id, vid = state.id] {
				if (ViewRec* view = impl->FindView(wid, vid); view && !view->applying)
					impl->PostInput(wid, vid, BMessage(K_INPUT_INVOKE));
			});
		rec->widget = button;
		return rec;
	}

	void Update(QtDisplay::Impl&, WindowRec&, ViewRec& view, const ViewState& old,
		bool created) const override
	{
		const ViewState& state = view.state;
		auto* button = static_cast<QPushButton*>(view.widget.data());
		if (created || old.label != state.label)
			button->setText(PlainLabel(state.label));
		button->setDefault(state.isDefault);
	}

	PreferredSize MeasuredSize(const SizeQuery& query) const override
	{
		QPushButton button(PlainLabel(query.label));
		return BeSize(button.sizeHint());
	}

	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		float labelWidth = kFixedCharWidth * float(query.label.size());
		return {std::max(labelWidth + 24, 75.0f) - 1, kFixedLineHeight + 10 - 1};
	}
};

} // namespace

const QtViewKind& QtButtonKind()
{
	static const ButtonKind kind;
	return kind;
}

} // namespace BPrivate
