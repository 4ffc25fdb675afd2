// A plain view (BView): a panel, usually filled with its view colour.
#include "QtDisplayImpl.h"

namespace BPrivate {

namespace {

class PlainKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl&, WindowRec&, ViewRec*, QWidget* parent,
		const ViewState&) const override
	{
		auto rec = std::make_unique<ViewRec>();
		rec->widget = new QWidget(parent);
		return rec;
	}

	bool FillsWithViewColor() const override { return true; }
};

} // namespace

const QtViewKind& QtPlainKind()
{
	static const PlainKind kind;
	return kind;
}

} // namespace BPrivate
