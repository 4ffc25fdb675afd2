// The Qt display's robot: reads what the widgets show and acts on them
// through real Qt events, always on the main thread.
#include "QtDisplayRobot.h"

#include <QtDisplayImpl.h>
#include <QtListModel.h>
#include <kinds/QtListViewKind.h>
#include <kinds/QtMenuBarKind.h>
#include <kinds/QtMenuFieldKind.h>
#include <kinds/QtTabViewKind.h>
#include <kinds/QtTextControlKind.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QUrl>

#include <algorithm>
#include <cctype>

namespace BPrivate {

namespace {

std::string FromLabel(const QString& label)
{
	return QString(label).replace(QLatin1String("&&"), QLatin1String("&")).toStdString();
}

// A modal window other than the widget's own takes the user's input.
bool Blocked(QWidget* widget)
{
	QWidget* modal = QApplication::activeModalWidget();
	return modal && modal != widget->window();
}

bool Usable(QWidget* widget)
{
	return widget && widget->isVisible() && widget->isEnabled() && !Blocked(widget);
}

void SendClick(QWidget* widget, QPoint where, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
	QPointF local(where);
	QPointF global = widget->mapToGlobal(local);
	QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
		modifiers);
	QCoreApplication::sendEvent(widget, &press);
	QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
		modifiers);
	QCoreApplication::sendEvent(widget, &release);
}

void SendKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text = {})
{
	QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
	QCoreApplication::sendEvent(widget, &press);
	QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
	QCoreApplication::sendEvent(widget, &release);
}

QAction* FindAction(QMenu* menu, const std::string& item)
{
	for (QAction* action : menu->actions()) {
		if (action->isSeparator())
			continue;
		if (action->menu()) {
			if (QAction* found = FindAction(action->menu(), item))
				return found;
		} else if (FromLabel(action->text()) == item) {
			return action;
		}
	}
	return nullptr;
}

// The record of a view of the kind that keeps widgets of type Rec; null for
// a view of another kind.
template <typename Rec>
Rec* As(ViewRec* view)
{
	return dynamic_cast<Rec*>(view);
}

// A text control's field.
QLineEdit* EditOf(ViewRec* view)
{
	auto* field = As<TextControlRec>(view);
	return field ? field->edit : nullptr;
}

QMenu* FindBarMenu(QMenuBar* bar, const std::string& title)
{
	for (QAction* action : bar->actions()) {
		if (action->menu() && FromLabel(action->text()) == title)
			return action->menu();
	}
	return nullptr;
}

} // namespace

QtDisplayRobot::QtDisplayRobot(QtDisplay& display)
	:
	fImpl(*display.fImpl)
{
}

// ---- reading -------------------------------------------------------------

bool QtDisplayRobot::IsWindowShown(const std::string& window)
{
	bool shown = false;
	fImpl.Call([&] {
		WindowRec* rec = fImpl.FindWindowRec(window);
		shown = rec && rec->widget->isVisible();
	});
	return shown;
}

std::optional<BRect> QtDisplayRobot::WindowFrame(const std::string& window)
{
	std::optional<BRect> frame;
	fImpl.Call([&] {
		if (WindowRec* rec = fImpl.FindWindowRec(window)) {
			QRect g = rec->widget->geometry();
			frame = BRect(g.x(), g.y(), g.x() + g.width() - 1, g.y() + g.height() - 1);
		}
	});
	return frame;
}

std::optional<bool> QtDisplayRobot::IsViewShown(const std::string& window, const std::string& view)
{
	std::optional<bool> shown;
	fImpl.OnView(window, view, [&](WindowRec* rec, ViewRec* v) {
		if (v->widget)
			shown = v->widget->isVisibleTo(rec->widget.get());
	});
	return shown;
}

std::optional<bool> QtDisplayRobot::IsViewEnabled(const std::string& window, const std::string& view)
{
	std::optional<bool> enabled;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (v->widget)
			enabled = v->widget->isEnabled();
	});
	return enabled;
}

std::optional<BRect> QtDisplayRobot::ViewFrameInWindow(const std::string& window,
	const std::string& view)
{
	std::optional<BRect> frame;
	fImpl.OnView(window, view, [&](WindowRec* rec, ViewRec* v) {
		if (v->widget) {
			QPoint origin = v->widget->mapTo(rec->widget.get(), QPoint(0, 0));
			frame = BRect(origin.x(), origin.y(), origin.x() + v->widget->width() - 1,
				origin.y() + v->widget->height() - 1);
		}
	});
	return frame;
}

std::optional<std::string> QtDisplayRobot::ViewText(const std::string& window, const std::string& view)
{
	std::optional<std::string> text;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->widget)
			return;
		if (auto* field = As<TextControlRec>(v))
			text = field->edit->text().toStdString();
		else if (auto* menuField = As<MenuFieldRec>(v))
			text = FromLabel(menuField->button->text());
		else if (auto* button = qobject_cast<QAbstractButton*>(v->widget.data()))
			text = FromLabel(button->text());
		else if (auto* label = qobject_cast<QLabel*>(v->widget.data()))
			text = label->text().toStdString();
	});
	return text;
}

std::optional<bool> QtDisplayRobot::IsChecked(const std::string& window, const std::string& view)
{
	std::optional<bool> checked;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (auto* box = qobject_cast<QCheckBox*>(v->widget.data()))
			checked = box->isChecked();
	});
	return checked;
}

std::vector<std::string> QtDisplayRobot::ListRows(const std::string& window, const std::string& view)
{
	std::vector<std::string> rows;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		auto* list = As<ListViewRec>(v);
		if (!list)
			return;
		// What the view shows, through the model's interface.
		QtListModel* model = list->model;
		for (int row = 0; row < model->rowCount(); row++)
			rows.push_back(model->data(model->index(row)).toString().toStdString());
	});
	return rows;
}

std::vector<int32> QtDisplayRobot::ListSelection(const std::string& window, const std::string& view)
{
	std::vector<int32> rows;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		auto* list = As<ListViewRec>(v);
		if (!list)
			return;
		for (const QModelIndex& index : list->list->selectionModel()->selectedRows())
			rows.push_back(index.row());
	});
	std::sort(rows.begin(), rows.end());
	return rows;
}

std::vector<std::string> QtDisplayRobot::TabLabels(const std::string& window, const std::string& view)
{
	std::vector<std::string> labels;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		auto* tabView = As<TabViewRec>(v);
		if (!tabView)
			return;
		for (int i = 0; i < tabView->tabs->count(); i++)
			labels.push_back(FromLabel(tabView->tabs->tabText(i)));
	});
	return labels;
}

std::optional<int32> QtDisplayRobot::CurrentTab(const std::string& window, const std::string& view)
{
	std::optional<int32> index;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (auto* tabView = As<TabViewRec>(v))
			index = tabView->tabs->currentIndex();
	});
	return index;
}

std::vector<std::string> QtDisplayRobot::MenuItems(const std::string& window, const std::string& view,
	const std::string& menu)
{
	std::vector<std::string> items;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		QList<QAction*> actions;
		auto* bar = As<MenuBarRec>(v);
		auto* field = As<MenuFieldRec>(v);
		if (bar && menu.empty())
			actions = bar->bar->actions();
		else if (bar) {
			if (QMenu* found = FindBarMenu(bar->bar, menu))
				actions = found->actions();
		} else if (field)
			actions = field->menu->actions();
		for (QAction* action : actions)
			items.push_back(action->isSeparator() ? std::string("-") : FromLabel(action->text()));
	});
	return items;
}

std::vector<QtDisplayRobot::ShownAlert> QtDisplayRobot::Alerts()
{
	std::vector<ShownAlert> shown;
	fImpl.Call([&] {
		for (const auto& [serial, alert] : fImpl.alerts) {
			if (!alert.box || !alert.box->isVisible())
				continue;
			ShownAlert entry;
			entry.title = alert.box->windowTitle().toStdString();
			entry.text = alert.box->text().toStdString();
			for (QAbstractButton* button : alert.buttons)
				entry.buttons.push_back(FromLabel(button->text()));
			switch (alert.box->icon()) {
				case QMessageBox::Information: entry.icon = AlertIcon::Info; break;
				case QMessageBox::Warning: entry.icon = AlertIcon::Warning; break;
				case QMessageBox::Critical: entry.icon = AlertIcon::Stop; break;
				default: entry.icon = AlertIcon::None; break;
			}
			shown.push_back(std::move(entry));
		}
	});
	return shown;
}

std::vector<std::string> QtDisplayRobot::PanelTitles()
{
	std::vector<std::string> titles;
	fImpl.Call([&] {
		for (const auto& [id, panel] : fImpl.panels) {
			if (panel.dialog && panel.dialog->isVisible())
				titles.push_back(panel.dialog->windowTitle().toStdString());
		}
	});
	return titles;
}

// ---- acting --------------------------------------------------------------

bool QtDisplayRobot::Click(const std::string& window, const std::string& view)
{
	bool done = false;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		auto* button = qobject_cast<QAbstractButton*>(v->widget.data());
		if (!Usable(button))
			return;
		QPoint where = button->rect().center();
		// A check box only takes clicks on its box and its label.
		if (auto* box = qobject_cast<QCheckBox*>(button)) {
			QStyleOptionButton option;
			option.initFrom(box);
			option.text = box->text();
			where = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box).center();
		}
		SendClick(button, where);
		done = true;
	});
	return done;
}

bool QtDisplayRobot::Toggle(const std::string& window, const std::string& view)
{
	return Click(window, view);
}

bool QtDisplayRobot::Type(const std::string& window, const std::string& view, const std::string& text)
{
	bool done = false;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		QLineEdit* edit = EditOf(v);
		if (!Usable(edit))
			return;
		edit->setFocus(Qt::OtherFocusReason);
		for (char32_t c : QString::fromStdString(text).toUcs4()) {
			QString character = QString::fromUcs4(&c, 1);
			int key = c < 0x80 && std::isalnum(int(c)) ? int(QChar(char16_t(c)).toUpper().unicode())
				: int(Qt::Key_unknown);
			SendKey(edit, key, Qt::NoModifier, character);
		}
		done = true;
	});
	return done;
}

bool QtDisplayRobot::SetText(const std::string& window, const std::string& view, const std::string& text)
{
	bool done = false;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		QLineEdit* edit = EditOf(v);
		if (!Usable(edit))
			return;
		SendKey(edit, Qt::Key_A, Qt::ControlModifier);
		if (text.empty())
			SendKey(edit, Qt::Key_Delete, Qt::NoModifier);
		done = true;
	});
	return done && (text.empty() || Type(window, view, text));
}

bool QtDisplayRobot::ChooseMenuItem(const std::string& window, const std::string& view,
	const std::string& menu, const std::string& item)
{
	bool done = false;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!Usable(v->widget))
			return;
		QMenu* found = nullptr;
		if (auto* bar = As<MenuBarRec>(v))
			found = FindBarMenu(bar->bar, menu);
		else if (auto* field = As<MenuFieldRec>(v))
			found = field->menu;
		if (!found || !found->isEnabled())
			return;
		QAction* action = FindAction(found, item);
		if (!action || !action->isEnabled())
			return;
		action->trigger();
		done = true;
	});
	return done;
}

bool QtDisplayRobot::SelectRow(const std::string& window, const std::string& view, int32 row,
	bool extend, bool toggle)
{
	bool done = false;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		auto* list = As<ListViewRec>(v);
		if (!list || !Usable(list->list) || row < 0 || row >= list->model->Count())
			return;
		QModelIndex index = list->model->index(row);
		list->list->scrollTo(index);
		Qt::KeyboardModifiers modifiers = Qt::NoModifier;
		if (extend)
			modifiers |= Qt::ShiftModifier;
		if (toggle)
			modifiers |= Qt::ControlModifier;
		SendClick(list->list->viewport(), list->list->visualRect(index).center(), modifiers);
		done = true;
	});
	return done;
}

bool QtDisplayRobot::SelectTab(const std::string& window, const std::string& view, int32 index)
{
	bool done = false;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		auto* tabView = As<TabViewRec>(v);
		QTabBar* tabs = tabView ? tabView->tabs : nullptr;
		if (!tabs || !Usable(tabs) || index < 0 || index >= tabs->count()
			|| !tabs->isTabEnabled(index))
			return;
		SendClick(tabs, tabs->tabRect(index).center());
		done = true;
	});
	return done;
}

bool QtDisplayRobot::Drop(const std::string& window, const std::string& view,
	const std::vector<std::string>& paths)
{
	bool done = false;
	fImpl.OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->widget)
			return;
		auto* list = As<ListViewRec>(v);
		QWidget* target = list ? list->list->viewport() : v->widget.data();
		if (!Usable(target))
			return;
		QMimeData data;
		QList<QUrl> urls;
		for (const std::string& path : paths)
			urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
		data.setUrls(urls);
		QPoint where = target->rect().center();
		Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
		QDragEnterEvent enter(where, actions, &data, Qt::LeftButton, Qt::NoModifier);
		enter.ignore();
		QCoreApplication::sendEvent(target, &enter);
		if (!enter.isAccepted())
			return;
		QDragMoveEvent move(where, actions, &data, Qt::LeftButton, Qt::NoModifier);
		move.ignore();
		QCoreApplication::sendEvent(target, &move);
		if (!move.isAccepted())
			return;
		QDropEvent drop(QPointF(where), actions, &data, Qt::LeftButton, Qt::NoModifier);
		drop.ignore();
		QCoreApplication::sendEvent(target, &drop);
		done = drop.isAccepted();
	});
	return done;
}

bool QtDisplayRobot::PressCloseBox(const std::string& window)
{
	bool done = false;
	fImpl.Call([&] {
		WindowRec* rec = fImpl.FindWindowRec(window);
		if (!rec || !rec->widget->isVisible() || Blocked(rec->widget.get())
			|| !(rec->widget->windowFlags() & Qt::WindowCloseButtonHint))
			return;
		rec->widget->close();
		done = true;
	});
	return done;
}

bool QtDisplayRobot::AnswerAlert(int32 button, const std::string& title)
{
	bool done = false;
	fImpl.Call([&] {
		for (auto& [serial, alert] : fImpl.alerts) {
			if (!alert.box || !alert.box->isVisible())
				continue;
			if (!title.empty() && alert.box->windowTitle().toStdString() != title)
				continue;
			if (button == -1) {
				SendKey(alert.box, Qt::Key_Escape, Qt::NoModifier);
			} else {
				if (button < 0 || size_t(button) >= alert.buttons.size())
					return;
				QAbstractButton* pressed = alert.buttons[size_t(button)];
				SendClick(pressed, pressed->rect().center());
			}
			done = true;
			return;
		}
	});
	return done;
}

namespace {

QFileDialog* FindPanel(QtDisplay::Impl& impl, const std::string& title)
{
	for (auto& [id, panel] : impl.panels) {
		if (panel.dialog && panel.dialog->isVisible()
			&& panel.dialog->windowTitle().toStdString() == title)
			return panel.dialog;
	}
	return nullptr;
}

// Types the names into the dialog's name field and presses its default
// button; true when the panel answered.
bool AcceptPanel(QtDisplay::Impl& impl, QFileDialog* dialog, const QString& names)
{
	// selectFile() leaves a visible dialog's focused field alone, so the
	// names go in as typed text.
	if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
		edit->setText(names);
	else
		dialog->selectFile(names);
	int64 before = impl.panelAnswers;
	// QFileDialog hides accept(); through QDialog it is the default button's slot.
	static_cast<QDialog*>(dialog)->accept();
	return impl.panelAnswers > before;
}

} // namespace

bool QtDisplayRobot::AnswerOpenPanel(const std::string& title, const std::vector<std::string>& paths)
{
	bool done = false;
	fImpl.Call([&] {
		QFileDialog* dialog = FindPanel(fImpl, title);
		if (!dialog || paths.empty())
			return;
		QFileInfo first(QString::fromStdString(paths.front()));
		dialog->setDirectory(first.absolutePath());
		QString names;
		if (paths.size() == 1) {
			names = first.fileName();
		} else {
			// Several names go in quotes, as a user would type them.
			QStringList quoted;
			for (const std::string& path : paths)
				quoted.push_back(QLatin1Char('"') + QFileInfo(QString::fromStdString(path)).fileName()
					+ QLatin1Char('"'));
			names = quoted.join(QLatin1Char(' '));
		}
		done = AcceptPanel(fImpl, dialog, names);
	});
	return done;
}

bool QtDisplayRobot::AnswerSavePanel(const std::string& title, const std::string& directory,
	const std::string& name)
{
	bool done = false;
	fImpl.Call([&] {
		QFileDialog* dialog = FindPanel(fImpl, title);
		if (!dialog)
			return;
		dialog->setDirectory(QString::fromStdString(directory));
		done = AcceptPanel(fImpl, dialog, QString::fromStdString(name));
	});
	return done;
}

bool QtDisplayRobot::CancelPanel(const std::string& title)
{
	bool done = false;
	fImpl.Call([&] {
		QFileDialog* dialog = FindPanel(fImpl, title);
		if (!dialog)
			return;
		dialog->reject();
		done = true;
	});
	return done;
}

} // namespace BPrivate
