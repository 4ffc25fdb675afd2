// The Qt display's robot: reads what the widgets show and acts on them
// through real Qt events, always on the main thread.
#include "QtDisplayImpl.h"

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
#include <thread>

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

QMenu* FindBarMenu(QMenuBar* bar, const std::string& title)
{
	for (QAction* action : bar->actions()) {
		if (action->menu() && FromLabel(action->text()) == title)
			return action->menu();
	}
	return nullptr;
}

} // namespace

bool QtDisplay::WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds deadline)
{
	auto end = std::chrono::steady_clock::now() + deadline;
	for (;;) {
		if (cond())
			return true;
		if (std::chrono::steady_clock::now() >= end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
}

// ---- reading -------------------------------------------------------------

bool QtDisplay::IsWindowShown(const std::string& window)
{
	bool shown = false;
	fImpl->Call([&] {
		WindowRec* rec = fImpl->FindWindowRec(window);
		shown = rec && rec->widget->isVisible();
	});
	return shown;
}

std::optional<BRect> QtDisplay::WindowFrame(const std::string& window)
{
	std::optional<BRect> frame;
	fImpl->Call([&] {
		if (WindowRec* rec = fImpl->FindWindowRec(window)) {
			QRect g = rec->widget->geometry();
			frame = BRect(g.x(), g.y(), g.x() + g.width() - 1, g.y() + g.height() - 1);
		}
	});
	return frame;
}

std::optional<bool> QtDisplay::IsViewShown(const std::string& window, const std::string& view)
{
	std::optional<bool> shown;
	fImpl->OnView(window, view, [&](WindowRec* rec, ViewRec* v) {
		if (v->widget)
			shown = v->widget->isVisibleTo(rec->widget.get());
	});
	return shown;
}

std::optional<bool> QtDisplay::IsViewEnabled(const std::string& window, const std::string& view)
{
	std::optional<bool> enabled;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (v->widget)
			enabled = v->widget->isEnabled();
	});
	return enabled;
}

std::optional<BRect> QtDisplay::ViewFrameInWindow(const std::string& window,
	const std::string& view)
{
	std::optional<BRect> frame;
	fImpl->OnView(window, view, [&](WindowRec* rec, ViewRec* v) {
		if (v->widget) {
			QPoint origin = v->widget->mapTo(rec->widget.get(), QPoint(0, 0));
			frame = BRect(origin.x(), origin.y(), origin.x() + v->widget->width() - 1,
				origin.y() + v->widget->height() - 1);
		}
	});
	return frame;
}

std::optional<std::string> QtDisplay::ViewText(const std::string& window, const std::string& view)
{
	std::optional<std::string> text;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->widget)
			return;
		if (v->edit)
			text = v->edit->text().toStdString();
		else if (v->fieldButton)
			text = FromLabel(v->fieldButton->text());
		else if (auto* button = qobject_cast<QAbstractButton*>(v->widget.data()))
			text = FromLabel(button->text());
		else if (v->label)
			text = v->label->text().toStdString();
	});
	return text;
}

std::optional<bool> QtDisplay::IsChecked(const std::string& window, const std::string& view)
{
	std::optional<bool> checked;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (auto* box = qobject_cast<QCheckBox*>(v->widget.data()))
			checked = box->isChecked();
	});
	return checked;
}

std::vector<std::string> QtDisplay::ListRows(const std::string& window, const std::string& view)
{
	std::vector<std::string> rows;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->model)
			return;
		// What the view shows, through the model's interface.
		for (int row = 0; row < v->model->rowCount(); row++)
			rows.push_back(v->model->data(v->model->index(row)).toString().toStdString());
	});
	return rows;
}

std::vector<int32> QtDisplay::ListSelection(const std::string& window, const std::string& view)
{
	std::vector<int32> rows;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->list)
			return;
		for (const QModelIndex& index : v->list->selectionModel()->selectedRows())
			rows.push_back(index.row());
	});
	std::sort(rows.begin(), rows.end());
	return rows;
}

std::vector<std::string> QtDisplay::TabLabels(const std::string& window, const std::string& view)
{
	std::vector<std::string> labels;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->tabs)
			return;
		for (int i = 0; i < v->tabs->count(); i++)
			labels.push_back(FromLabel(v->tabs->tabText(i)));
	});
	return labels;
}

std::optional<int32> QtDisplay::CurrentTab(const std::string& window, const std::string& view)
{
	std::optional<int32> index;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (v->tabs)
			index = v->tabs->currentIndex();
	});
	return index;
}

std::vector<std::string> QtDisplay::MenuItems(const std::string& window, const std::string& view,
	const std::string& menu)
{
	std::vector<std::string> items;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		QList<QAction*> actions;
		if (v->menuBar && menu.empty())
			actions = v->menuBar->actions();
		else if (v->menuBar) {
			if (QMenu* found = FindBarMenu(v->menuBar, menu))
				actions = found->actions();
		} else if (v->fieldMenu)
			actions = v->fieldMenu->actions();
		for (QAction* action : actions)
			items.push_back(action->isSeparator() ? std::string("-") : FromLabel(action->text()));
	});
	return items;
}

std::vector<QtDisplay::ShownAlert> QtDisplay::Alerts()
{
	std::vector<ShownAlert> shown;
	fImpl->Call([&] {
		for (const auto& [serial, alert] : fImpl->alerts) {
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

std::vector<std::string> QtDisplay::PanelTitles()
{
	std::vector<std::string> titles;
	fImpl->Call([&] {
		for (const auto& [id, panel] : fImpl->panels) {
			if (panel.dialog && panel.dialog->isVisible())
				titles.push_back(panel.dialog->windowTitle().toStdString());
		}
	});
	return titles;
}

// ---- acting --------------------------------------------------------------

bool QtDisplay::Click(const std::string& window, const std::string& view)
{
	bool done = false;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
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

bool QtDisplay::Toggle(const std::string& window, const std::string& view)
{
	return Click(window, view);
}

bool QtDisplay::Type(const std::string& window, const std::string& view, const std::string& text)
{
	bool done = false;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!Usable(v->edit))
			return;
		v->edit->setFocus(Qt::OtherFocusReason);
		for (char32_t c : QString::fromStdString(text).toUcs4()) {
			QString character = QString::fromUcs4(&c, 1);
			int key = c < 0x80 && std::isalnum(int(c)) ? int(QChar(char16_t(c)).toUpper().unicode())
				: int(Qt::Key_unknown);
			SendKey(v->edit, key, Qt::NoModifier, character);
		}
		done = true;
	});
	return done;
}

bool QtDisplay::SetText(const std::string& window, const std::string& view, const std::string& text)
{
	bool done = false;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!Usable(v->edit))
			return;
		SendKey(v->edit, Qt::Key_A, Qt::ControlModifier);
		if (text.empty())
			SendKey(v->edit, Qt::Key_Delete, Qt::NoModifier);
		done = true;
	});
	return done && (text.empty() || Type(window, view, text));
}

bool QtDisplay::ChooseMenuItem(const std::string& window, const std::string& view,
	const std::string& menu, const std::string& item)
{
	bool done = false;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!Usable(v->widget))
			return;
		QMenu* found = nullptr;
		if (v->menuBar)
			found = FindBarMenu(v->menuBar, menu);
		else if (v->fieldMenu)
			found = v->fieldMenu;
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

bool QtDisplay::SelectRow(const std::string& window, const std::string& view, int32 row,
	bool extend, bool toggle)
{
	bool done = false;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->list || !Usable(v->list) || row < 0 || row >= v->model->Count())
			return;
		QModelIndex index = v->model->index(row);
		v->list->scrollTo(index);
		Qt::KeyboardModifiers modifiers = Qt::NoModifier;
		if (extend)
			modifiers |= Qt::ShiftModifier;
		if (toggle)
			modifiers |= Qt::ControlModifier;
		SendClick(v->list->viewport(), v->list->visualRect(index).center(), modifiers);
		done = true;
	});
	return done;
}

bool QtDisplay::SelectTab(const std::string& window, const std::string& view, int32 index)
{
	bool done = false;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->tabs || !Usable(v->tabs) || index < 0 || index >= v->tabs->count()
			|| !v->tabs->isTabEnabled(index))
			return;
		SendClick(v->tabs, v->tabs->tabRect(index).center());
		done = true;
	});
	return done;
}

bool QtDisplay::Drop(const std::string& window, const std::string& view,
	const std::vector<std::string>& paths)
{
	bool done = false;
	fImpl->OnView(window, view, [&](WindowRec*, ViewRec* v) {
		if (!v->widget)
			return;
		QWidget* target = v->list ? v->list->viewport() : v->widget.data();
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

bool QtDisplay::PressCloseBox(const std::string& window)
{
	bool done = false;
	fImpl->Call([&] {
		WindowRec* rec = fImpl->FindWindowRec(window);
		if (!rec || !rec->widget->isVisible() || Blocked(rec->widget.get())
			|| !(rec->widget->windowFlags() & Qt::WindowCloseButtonHint))
			return;
		rec->widget->close();
		done = true;
	});
	return done;
}

bool QtDisplay::AnswerAlert(int32 button, const std::string& title)
{
	bool done = false;
	fImpl->Call([&] {
		for (auto& [serial, alert] : fImpl->alerts) {
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

bool QtDisplay::AnswerOpenPanel(const std::string& title, const std::vector<std::string>& paths)
{
	bool done = false;
	fImpl->Call([&] {
		QFileDialog* dialog = FindPanel(*fImpl, title);
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
		done = AcceptPanel(*fImpl, dialog, names);
	});
	return done;
}

bool QtDisplay::AnswerSavePanel(const std::string& title, const std::string& directory,
	const std::string& name)
{
	bool done = false;
	fImpl->Call([&] {
		QFileDialog* dialog = FindPanel(*fImpl, title);
		if (!dialog)
			return;
		dialog->setDirectory(QString::fromStdString(directory));
		done = AcceptPanel(*fImpl, dialog, QString::fromStdString(name));
	});
	return done;
}

bool QtDisplay::CancelPanel(const std::string& title)
{
	bool done = false;
	fImpl->Call([&] {
		QFileDialog* dialog = FindPanel(*fImpl, title);
		if (!dialog)
			return;
		dialog->reject();
		done = true;
	});
	return done;
}

} // namespace BPrivate
