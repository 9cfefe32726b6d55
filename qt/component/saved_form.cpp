#include "qt/component/saved_form.h"

#include "base/atomic_write.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cmath>
#include <fstream>
#include <sstream>

namespace ubin::component {

namespace {

constexpr char kFormat[] = "marubeta-form 1";

std::int32_t RoundHalfEven(double v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

bool IsInt32(const QJsonValue& v)
{
    const double d = v.toDouble(0.5);
    return v.isDouble() && d == static_cast<double>(static_cast<std::int32_t>(d));
}

} // namespace

std::int32_t TwipsToHimetric(std::int32_t twips) { return RoundHalfEven(twips * 2540.0 / 1440.0); }
std::int32_t HimetricToTwips(std::int32_t himetric) { return RoundHalfEven(himetric * 1440.0 / 2540.0); }

SavedControl* SavedForm::Find(std::string_view name)
{
    for (auto& c : controls)
        if (c.name == name) return &c;
    return nullptr;
}

const SavedControl* SavedForm::Find(std::string_view name) const
{
    return const_cast<SavedForm*>(this)->Find(name);
}

void SavedForm::Put(SavedControl control)
{
    if (SavedControl* old = Find(control.name))
        *old = std::move(control);
    else
        controls.push_back(std::move(control));
}

std::string SerializeSavedForm(const SavedForm& form)
{
    QJsonArray controls;
    for (const auto& c : form.controls) {
        QJsonArray props;
        for (const auto& e : c.properties.entries()) {
            QJsonObject p{{"key", QString::fromStdU16String(e.key)}, {"type", ValueTypeName(e.value.type())}};
            switch (e.value.type()) {
            case ValueType::Int32: p.insert("value", e.value.int32()); break;
            case ValueType::Single: p.insert("value", static_cast<double>(e.value.single())); break;
            default: p.insert("value", QString::fromStdU16String(e.value.text())); break;
            }
            props.append(p);
        }
        controls.append(QJsonObject{
            {"name", QString::fromStdString(c.name)},
            {"programId", QString::fromStdString(c.programId)},
            {"classId", QString::fromStdString(c.classId)},
            {"extent", QJsonObject{{"width", c.extent.width}, {"height", c.extent.height}}},
            {"properties", props},
        });
    }
    return QJsonDocument(QJsonObject{{"format", kFormat}, {"controls", controls}}).toJson(QJsonDocument::Indented).toStdString();
}

Result<SavedForm> ParseSavedForm(std::string_view bytes, const std::string& where)
{
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
    auto bad = [&](const std::string& what) { return Status(kErrorBadFile, where + ": " + what); };
    if (error.error != QJsonParseError::NoError)
        return bad(error.errorString().toStdString() + " at byte " + std::to_string(error.offset));
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value("format").toString() != QLatin1String(kFormat))
        return bad(std::string("the format is not \"") + kFormat + "\"");
    if (!root.value("controls").isArray()) return bad("\"controls\" is not a list");
    SavedForm form;
    for (const auto& cv : root.value("controls").toArray()) {
        const QJsonObject c = cv.toObject();
        SavedControl control;
        if (!c.value("name").isString() || !c.value("programId").isString() || !c.value("classId").isString())
            return bad("a control lacks its name or class");
        control.name = c.value("name").toString().toStdString();
        control.programId = c.value("programId").toString().toStdString();
        control.classId = c.value("classId").toString().toStdString();
        const QJsonObject extent = c.value("extent").toObject();
        if (!IsInt32(extent.value("width")) || !IsInt32(extent.value("height")))
            return bad("control " + control.name + ": the extent is not two 32-bit integers");
        control.extent = {extent.value("width").toInt(), extent.value("height").toInt()};
        if (!c.value("properties").isArray()) return bad("control " + control.name + ": \"properties\" is not a list");
        for (const auto& pv : c.value("properties").toArray()) {
            const QJsonObject p = pv.toObject();
            const std::u16string key = p.value("key").toString().toStdU16String();
            const QJsonValue v = p.value("value");
            ValueType type;
            if (key.empty() || !ValueTypeFromName(p.value("type").toString().toStdString(), type))
                return bad("control " + control.name + ": a property lacks its key or type");
            Value value;
            if (type == ValueType::Int32 && IsInt32(v))
                value = Value(static_cast<std::int32_t>(v.toInt()));
            else if (type == ValueType::Single && v.isDouble())
                value = Value(static_cast<float>(v.toDouble()));
            else if (type == ValueType::Text && v.isString())
                value = Value(v.toString().toStdU16String());
            else
                return bad("control " + control.name + ": property \"" + ToUtf8(key) + "\" does not hold a value of its type");
            if (control.properties.Contains(key))
                return bad("control " + control.name + ": property \"" + ToUtf8(key) + "\" is listed twice");
            control.properties.Set(key, value);
        }
        if (form.Find(control.name)) return bad("control " + control.name + " is listed twice");
        form.controls.push_back(std::move(control));
    }
    return form;
}

Result<SavedForm> ReadSavedForm(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status(kErrorBadFile, path.string() + ": the saved form cannot be read");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return ParseSavedForm(bytes.str(), path.string());
}

Status WriteSavedForm(const std::filesystem::path& path, const SavedForm& form)
{
    try {
        WriteFileAtomically(path, SerializeSavedForm(form));
    } catch (const std::exception& e) {
        return Status(kErrorBadFile, e.what());
    }
    return Status::Ok();
}

} // namespace ubin::component
