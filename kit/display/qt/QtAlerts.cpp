// Alerts: one message box each, its buttons in the order given.
#include "QtDisplayImpl.h"

#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace BPrivate {

void QtDisplay::Impl::ShowAlertNow(int32 id, AlertRequest request, std::function<void(int32)> answer)
{
	auto* box = new QMessageBox();
	box->setWindowTitle(QString::fromStdString(request.title));
	box->setTextFormat(Qt::PlainText);
	box->setText(QString::fromStdString(request.text));
	switch (request.icon) {
		case AlertIcon::Info:
		case AlertIcon::Idea:
			box->setIcon(QMessageBox::Information);
			break;
		case AlertIcon::Warning:
			box->setIcon(QMessageBox::Warning);
			break;
		case AlertIcon::Stop:
			box->setIcon(QMessageBox::Critical);
			break;
		case AlertIcon::None:
		default:
			box->setIcon(QMessageBox::NoIcon);
			break;
	}
	AlertRec rec;
	rec.id = id;
	// One role for every button keeps them in the order given.
	for (const std::string& label : request.buttons)
		rec.buttons.push_back(box->addButton(PlainLabel(label), QMessageBox::ActionRole));
	if (!rec.buttons.empty()) {
		box->setEscapeButton(rec.buttons.back());
		box->setDefaultButton(static_cast<QPushButton*>(rec.buttons.back()));
	}
	box->setWindowModality(Qt::ApplicationModal);
	rec.request = std::move(request);
	rec.answer = std::move(answer);
	rec.box = box;
	int64 serial = nextAlertSerial++;
	alerts[serial] = std::move(rec);
	QObject::connect(box, &QDialog::finished, box, [this, serial] { AlertFinished(serial); });
	box->show();
}

void QtDisplay::Impl::AlertFinished(int64 serial)
{
	auto it = alerts.find(serial);
	if (it == alerts.end())
		return;
	AlertRec alert = std::move(it->second);
	alerts.erase(it);
	int32 index = int32(alert.buttons.size()) - 1;
	if (alert.box) {
		QAbstractButton* clicked = alert.box->clickedButton();
		for (size_t i = 0; i < alert.buttons.size(); i++) {
			if (alert.buttons[i] == clicked)
				index = int32(i);
		}
		alert.box->deleteLater();
	}
	if (alert.answer)
		alert.answer(std::max<int32>(index, 0));
}

} // namespace BPrivate
