#include "shell/ui/translationapply.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTreeWidget>

#include "shell/translation.h"

namespace {

using translation::Section;
using translation::Table;

class Applier {
public:
    Applier(QWidget& form, const Table& table, int k, const char* formClass)
        : form_(form), table_(table), k_(k), formClass_(formClass) {}

    void Run() {
        for (const auto& e : table_.Entries(Section::Captions))
            if (auto* o = Component(e.key)) SetCaption(o, Text(e, e.key));
        for (const auto& e : table_.Entries(Section::Hints))
            if (auto* o = Component(e.key)) SetHint(o, Text(e, e.key));
        Fonts();
        for (Section s : {Section::MultiLines, Section::OtherStrings})
            for (const auto& e : table_.Entries(s)) Property(e, s == Section::MultiLines);
        for (const auto& e : table_.Entries(Section::Collections)) CollectionItem(e);
    }

private:
    QObject* Component(const std::string& name) const {
        const QString n = QString::fromStdString(name);
        if (n.compare(QLatin1String(formClass_), Qt::CaseInsensitive) == 0) return &form_;
        for (QObject* o : form_.findChildren<QObject*>())
            if (o->objectName().compare(n, Qt::CaseInsensitive) == 0) return o;
        return nullptr;
    }

    // The component's value in language k, decoded with the character set the table
    // gives that component (or the window) for language k.
    QString Text(const translation::Entry& e, const std::string& component) const {
        const std::string& v = e.Value(k_);
        int cp = 0;
        for (const std::string& who : {component, std::string(formClass_)}) {
            if (cp) break;
            if (const auto* cs = table_.Find(Section::CharSets, who))
                cp = translation::CodePageOfCharSet(cs->Value(k_));
        }
        return QString::fromStdString(translation::DecodeCodePage(v, cp ? cp : 1252));
    }

    static void SetCaption(QObject* o, const QString& text) {
        if (text.isEmpty()) return;
        if (auto* w = qobject_cast<QWidget*>(o)) {
            // A tab page's caption is its tab's text.
            if (auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget())) {
                if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
                    int i = tabs->indexOf(w);
                    if (i >= 0) tabs->setTabText(i, text);
                    return;
                }
            }
        }
        if (auto* b = qobject_cast<QAbstractButton*>(o)) b->setText(text);
        else if (auto* l = qobject_cast<QLabel*>(o)) l->setText(text);
        else if (auto* g = qobject_cast<QGroupBox*>(o)) g->setTitle(text);
        else if (auto* m = qobject_cast<QMenu*>(o)) m->setTitle(text);
        else if (auto* a = qobject_cast<QAction*>(o)) a->setText(text);
        else if (auto* w = qobject_cast<QWidget*>(o); w && w->isWindow()) w->setWindowTitle(text);
    }

    static void SetHint(QObject* o, const QString& text) {
        if (text.isEmpty()) return;
        if (auto* w = qobject_cast<QWidget*>(o)) w->setToolTip(text);
        else if (auto* a = qobject_cast<QAction*>(o)) a->setToolTip(text);
    }

    // Face name and character set of a font are set together.
    void Fonts() {
        QStringList names;
        for (Section s : {Section::Fonts, Section::CharSets})
            for (const auto& e : table_.Entries(s))
                if (!names.contains(QString::fromStdString(e.key), Qt::CaseInsensitive))
                    names.append(QString::fromStdString(e.key));
        for (const QString& qname : names) {
            const std::string name = qname.toStdString();
            auto* w = qobject_cast<QWidget*>(Component(name));
            if (!w) continue;
            const auto* face = table_.Find(Section::Fonts, name);
            const auto* charSet = table_.Find(Section::CharSets, name);
            QString family = face ? Text(*face, name) : QString();
            QString cs = charSet ? QString::fromStdString(charSet->Value(k_)) : QString();
            if (!family.isEmpty()) {
                QFont f = w->font();
                f.setFamily(family);
                w->setFont(f);
            }
            // Qt fonts carry no character set; it stays visible as a property.
            if (!cs.isEmpty()) w->setProperty("fontCharSet", cs);
        }
    }

    // "Component.Property" of the multi-line and other-string sections.
    void Property(const translation::Entry& e, bool multiLine) {
        const QString key = QString::fromStdString(e.key);
        const int dot = key.indexOf('.');
        if (dot <= 0) return;
        const std::string component = e.key.substr(0, static_cast<size_t>(dot));
        QObject* o = Component(component);
        QString text = Text(e, component);
        if (!o || text.isEmpty()) return;
        const QString prop = key.mid(dot + 1);
        if (multiLine) text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        auto is = [&](const char* p) { return prop.compare(QLatin1String(p), Qt::CaseInsensitive) == 0; };
        if (is("Caption")) return SetCaption(o, text);
        if (is("Hint")) return SetHint(o, text);
        if (is("Lines") || is("Text")) {
            if (auto* pe = qobject_cast<QPlainTextEdit*>(o)) return pe->setPlainText(text);
            if (auto* te = qobject_cast<QTextEdit*>(o)) return te->setPlainText(text);
            if (auto* le = qobject_cast<QLineEdit*>(o)) return le->setText(text);
        }
        if (is("Items")) {
            const QStringList items = text.split('\n');
            if (auto* lw = qobject_cast<QListWidget*>(o)) { lw->clear(); lw->addItems(items); return; }
            if (auto* cb = qobject_cast<QComboBox*>(o)) { cb->clear(); cb->addItems(items); return; }
        }
        // Any other property by its Qt name (first letter lower case).
        QByteArray qtName = prop.toLatin1();
        if (!qtName.isEmpty()) qtName[0] = static_cast<char>(QChar::toLower(static_cast<char16_t>(qtName[0])));
        if (o->metaObject()->indexOfProperty(qtName.constData()) >= 0) o->setProperty(qtName.constData(), text);
    }

    // "Component.Collection[i].Property".
    void CollectionItem(const translation::Entry& e) {
        static const QRegularExpression re(QStringLiteral("^([^.]+)\\.(\\w+)\\[(\\d+)\\]\\.(\\w+)$"));
        const auto m = re.match(QString::fromStdString(e.key));
        if (!m.hasMatch()) return;
        const std::string component = m.captured(1).toStdString();
        const QString collection = m.captured(2), prop = m.captured(4);
        const int index = m.captured(3).toInt();
        const QString text = Text(e, component);
        if (text.isEmpty()) return;
        auto same = [](const QString& a, const char* b) { return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0; };
        if (same(collection, "Panels") && same(prop, "Text")) {
            // Status bar panels are labels named after the bar and their index.
            const QString name = m.captured(1) + QStringLiteral("Panel") + QString::number(index);
            for (auto* l : form_.findChildren<QLabel*>())
                if (l->objectName().compare(name, Qt::CaseInsensitive) == 0) l->setText(text);
            return;
        }
        if (same(collection, "Columns") && same(prop, "Caption")) {
            QObject* o = Component(component);
            if (auto* tree = qobject_cast<QTreeWidget*>(o)) {
                if (index < tree->columnCount()) tree->headerItem()->setText(index, text);
            } else if (auto* table = qobject_cast<QTableWidget*>(o)) {
                if (index < table->columnCount()) {
                    if (!table->horizontalHeaderItem(index))
                        table->setHorizontalHeaderItem(index, new QTableWidgetItem);
                    table->horizontalHeaderItem(index)->setText(text);
                }
            }
        }
    }

    QWidget& form_;
    const Table& table_;
    int k_;
    const char* formClass_;
};

}  // namespace

void ApplyTranslation(QWidget& form, const translation::Table& table, int language,
                      const char* formClass) {
    Applier(form, table, language, formClass).Run();
}
