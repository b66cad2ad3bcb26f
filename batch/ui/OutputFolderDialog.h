#pragma once
// The output folder chooser: Qt's own folder dialog that, for a typed folder that does
// not exist yet, offers to make it instead of refusing it ("Directory not found").
#include <QFileDialog>
#include <QPointer>

class QMessageBox;

class OutputFolderDialog : public QFileDialog {
    Q_OBJECT
public:
    OutputFolderDialog(QWidget* parent, const QString& start);
    // The question about making a typed folder, while it is open.
    QMessageBox* createQuestion() const { return question_; }

public slots:
    void accept() override;

private:
    QPointer<QMessageBox> question_;
};
