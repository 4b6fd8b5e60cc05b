// The results panel of the bus-analysis view: reads the report of the last diagnosis back into
// texts for the QML each time it is shown, and copies the report to a file the user names.
#pragma once

#include <QList>
#include <QQuickItem>
#include <QString>
#include <QStringList>

#include <iosfwd>
#include <string>

class XmlDescriptor;

class BusResults : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString filename READ filename WRITE setFilename NOTIFY dataChanged)

public:
    static constexpr const char* kReportPath = "/var/tmp/busAnalysisResults.html";
    static constexpr int kMessageSaved = 14;
    static constexpr int kMessageNotSaved = 19;
    static constexpr int kMessageBadName = 23;

    // What a report reads as: title, date, quality text and colour; a row of six texts per
    // measurement (name, minimum, maximum, value, colour, error); the hints.
    struct Report {
        QStringList header;
        QList<QStringList> rows;
        QStringList hints;
    };

    explicit BusResults(QQuickItem* parent = nullptr);
    ~BusResults() override;

    QString filename() const { return filename_; }
    void setFilename(const QString& name)
    {
        filename_ = name;
        emit dataChanged();
    }

    Q_INVOKABLE QStringList getBusTitle() const { return header_; }
    // An empty list for an index outside the rows.
    Q_INVOKABLE QStringList getBusAnalysisResult(int i) const;
    Q_INVOKABLE QStringList getBusAnalysisMessages() const { return hints_; }
    // Copies the report to <storage>/bus/<filename>.htm and shows message 14 or 19.
    Q_INVOKABLE void fileWrite();
    void setDefaultFilename();
    void fileRead();

    // The report's page text decoded: "&amp;", "&lt;", "&gt;", "&quot;" and "&#N;", each entity
    // read once, left to right; anything else stays as it is.
    static QString decodeReportText(const std::string& text);
    // A parsed report (a valid tree) into its texts; the hints are those of the report.
    static Report readReport(XmlDescriptor& tree);

    // The buffer the last save's message points to; it lives as long as the process.
    static const char* messageBuffer();

signals:
    void dataChanged();

public slots:
    void enabledChangedSlot();

private:
    QStringList header_;
    QList<QStringList> rows_;
    QStringList hints_;
    QString filename_;
};
