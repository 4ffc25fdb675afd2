// File panels: Qt's own (not the platform's) file dialog, one per panel.
#include "QtDisplayImpl.h"

#include <StorageDefs.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace BPrivate {

void QtDisplay::Impl::ShowPanelNow(FilePanelRequest request,
	std::function<void(const FilePanelResult&)> answer)
{
	int32 id = request.id;
	PanelRec& panel = panels[id];
	if (!panel.dialog) {
		panel.dialog = new QFileDialog();
		QObject::connect(panel.dialog, &QDialog::finished, panel.dialog,
			[this, id](int result) { PanelFinished(id, result); });
	}
	QFileDialog* dialog = panel.dialog;
	dialog->setOption(QFileDialog::DontUseNativeDialog, true);
	// A chosen link is reported as the link, as the kit's panels do.
	dialog->setOption(QFileDialog::DontResolveSymlinks, true);
	dialog->setWindowTitle(QString::fromStdString(request.title));
	if (request.mode == PanelMode::Save) {
		dialog->setAcceptMode(QFileDialog::AcceptSave);
		dialog->setFileMode(QFileDialog::AnyFile);
	} else {
		dialog->setAcceptMode(QFileDialog::AcceptOpen);
		if (request.nodeFlavors == B_DIRECTORY_NODE)
			dialog->setFileMode(QFileDialog::Directory);
		else
			dialog->setFileMode(request.multipleSelection ? QFileDialog::ExistingFiles
				: QFileDialog::ExistingFile);
	}
	if (!request.defaultLabel.empty())
		dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(request.defaultLabel));
	if (!request.cancelLabel.empty())
		dialog->setLabelText(QFileDialog::Reject, QString::fromStdString(request.cancelLabel));
	if (!request.startDirectory.empty())
		dialog->setDirectory(QString::fromStdString(request.startDirectory));
	if (request.mode == PanelMode::Save && !request.saveName.empty())
		dialog->selectFile(QString::fromStdString(request.saveName));
	dialog->setWindowModality(request.modal ? Qt::ApplicationModal : Qt::NonModal);
	panel.request = std::move(request);
	panel.answer = std::move(answer);
	dialog->show();
	dialog->raise();
}

void QtDisplay::Impl::PanelFinished(int32 id, int result)
{
	auto it = panels.find(id);
	if (it == panels.end() || !it->second.dialog)
		return;
	PanelRec& panel = it->second;
	QFileDialog* dialog = panel.dialog;
	FilePanelResult answer;
	bool keep = false;
	if (result == QDialog::Accepted) {
		QStringList files = dialog->selectedFiles();
		if (panel.request.mode == PanelMode::Save) {
			QFileInfo info(files.value(0));
			answer.directory = QDir::cleanPath(info.absolutePath()).toStdString();
			answer.name = info.fileName().toStdString();
		} else {
			for (const QString& file : files)
				answer.paths.push_back(QDir::cleanPath(file).toStdString());
		}
		keep = !panel.request.hideWhenDone;
	} else {
		answer.cancelled = true;
	}
	std::function<void(const FilePanelResult&)> callback = panel.answer;
	panelAnswers++;
	if (keep) {
		dialog->show();
	} else {
		dialog->disconnect(dialog, nullptr, nullptr, nullptr);
		dialog->deleteLater();
		panels.erase(it);
	}
	if (callback)
		callback(answer);
}

void QtDisplay::Impl::HidePanelNow(int32 id)
{
	auto it = panels.find(id);
	if (it == panels.end())
		return;
	if (QFileDialog* dialog = it->second.dialog) {
		dialog->disconnect(dialog, nullptr, nullptr, nullptr);
		dialog->hide();
		dialog->deleteLater();
	}
	panels.erase(it);
}

} // namespace BPrivate
