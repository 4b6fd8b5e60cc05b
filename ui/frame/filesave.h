// The item behind the save panel: proposes a dated file name and a comment and hands the save
// of the chosen kind to the controller as a file request.
#pragma once

#include <QQuickItem>
#include <QString>

class FileSave : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString comment READ comment WRITE setComment NOTIFY commentChanged)
    Q_PROPERTY(QString filename READ filename WRITE setFilename NOTIFY filenameChanged)
    Q_PROPERTY(TSaveType saveTypes READ saveTypes WRITE setSaveTypes NOTIFY saveTypesChanged)

public:
    // The view whose kinds the panel offers.
    // A fixed underlying type: QML can write any number, which then offers the scope kinds.
    enum TSaveType : int { Scope = 0, Meter = 1, Harmonic = 2, Logger = 3, PassFail = 4 };
    Q_ENUM(TSaveType)

    // Kind codes that QML passes to saveSignal.
    enum { kindSetup = 0, kindTraces = 1, kindMath = 2, kindHarmonics = 3, kindMask = 4 };

    // Size of each request buffer, terminator included.
    static constexpr int kBufferSize = 100;

    explicit FileSave(QQuickItem* parent = nullptr);
    ~FileSave() override;

    QString comment() const { return comment_; }
    QString filename() const { return filename_; }
    TSaveType saveTypes() const { return saveTypes_; }
    // Only store the value: the change signals come from the operations below.
    void setComment(const QString& comment) { comment_ = comment; }
    void setFilename(const QString& filename) { filename_ = filename; }
    void setSaveTypes(TSaveType type) { saveTypes_ = type; }

    Q_INVOKABLE void setDefaultComment();
    Q_INVOKABLE void setDefaultFilename();

    // The file request action for a kind code (any unknown code saves the setup).
    static int32_t actionOfKind(int code);
    // The buffers the last request points to; they live as long as the process.
    static const char* nameBuffer();
    static const char* commentBuffer();
    // The proposed name for a moment: "tavlin_" + "yyyy-MM-dd_hh-mm-ss".
    static QString defaultFilename(const class QDateTime& when);

signals:
    void commentChanged();
    void filenameChanged();
    void saveTypesChanged();
    void saveSignal(int code);

public slots:
    // Posts the save of the kind; a bad file name posts nothing and shows message 23.
    void saveSlot(int code);

private:
    QString comment_;
    QString filename_;
    TSaveType saveTypes_ = Scope;
};

// A file name the panels accept: not empty, no "/", not starting with ".".
bool isAcceptableFileName(const QString& name);
// Copies the UTF-8 form of text into out (size bytes, terminator included), cut at a character
// boundary.
void copyUtf8Cut(const QString& text, char* out, int size);
