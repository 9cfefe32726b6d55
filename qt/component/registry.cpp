#include "qt/component/registry.h"

#include "base/atomic_write.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <fstream>
#include <sstream>

namespace ubin::component {

namespace {

constexpr char kFormat[] = "marubeta-classes 1";

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Thrown while parsing; turned into a kErrorBadFile status naming the place.
struct BadFile {
    std::string what;
};

const QJsonValue& Require(const QJsonValue& v, bool ok, const char* what)
{
    if (!ok) throw BadFile{what};
    return v;
}

std::string String(const QJsonObject& o, const char* key, bool optional = false)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() && optional) return {};
    Require(v, v.isString(), (std::string("\"") + key + "\" is not a text").c_str());
    return v.toString().toStdString();
}

QJsonObject Object(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isObject()) throw BadFile{std::string("\"") + key + "\" is not an object"};
    return v.toObject();
}

QJsonArray Array(const QJsonObject& o, const char* key, bool optional = false)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() && optional) return {};
    if (!v.isArray()) throw BadFile{std::string("\"") + key + "\" is not a list"};
    return v.toArray();
}

MemberId Id(const QJsonObject& o)
{
    const QJsonValue v = o.value(QLatin1String("id"));
    const double d = v.toDouble(0.5);
    if (!v.isDouble() || d != static_cast<double>(static_cast<MemberId>(d)))
        throw BadFile{"a member id is not a 32-bit integer"};
    return static_cast<MemberId>(d);
}

ValueType Type(const QJsonObject& o, bool optional)
{
    const std::string name = String(o, "type", optional);
    if (name.empty() && optional) return ValueType::Empty;
    ValueType t;
    if (!ValueTypeFromName(name, t)) throw BadFile{"unknown type \"" + name + "\""};
    return t;
}

QJsonArray ArgumentsToJson(const std::vector<ArgumentInfo>& args)
{
    QJsonArray a;
    for (const auto& arg : args) {
        QJsonObject o{{"name", Q(arg.name)}, {"type", ValueTypeName(arg.type)}};
        if (arg.byReference) o.insert("byReference", true);
        a.append(o);
    }
    return a;
}

std::vector<ArgumentInfo> ArgumentsFromJson(const QJsonArray& a)
{
    std::vector<ArgumentInfo> args;
    for (const auto& v : a) {
        if (!v.isObject()) throw BadFile{"an argument is not an object"};
        const QJsonObject o = v.toObject();
        args.push_back({String(o, "name"), Type(o, false), o.value("byReference").toBool(false)});
    }
    return args;
}

QJsonObject ToJson(const RegisteredClass& c)
{
    const ClassInfo& i = c.info;
    QJsonArray members;
    for (const auto& m : i.members) {
        QJsonArray kinds;
        for (InvokeKind k : {InvokeKind::Method, InvokeKind::PropertyGet, InvokeKind::PropertyLet})
            if (m.Supports(k)) kinds.append(InvokeKindName(k));
        QJsonObject o{{"name", Q(m.name)}, {"id", m.id}, {"kinds", kinds}};
        if (m.type != ValueType::Empty) o.insert("type", ValueTypeName(m.type));
        if (!m.arguments.empty()) o.insert("arguments", ArgumentsToJson(m.arguments));
        if (!m.description.empty()) o.insert("description", Q(m.description));
        members.append(o);
    }
    QJsonArray events;
    for (const auto& e : i.events) {
        QJsonObject o{{"name", Q(e.name)}, {"id", e.id}};
        if (!e.arguments.empty()) o.insert("arguments", ArgumentsToJson(e.arguments));
        if (!e.description.empty()) o.insert("description", Q(e.description));
        events.append(o);
    }
    return QJsonObject{
        {"classId", Q(i.classId)},
        {"className", Q(i.className)},
        {"programId", Q(i.programId)},
        {"library", Q(c.libraryPath)},
        {"typeLibrary",
         QJsonObject{{"id", Q(i.typeLibraryId)}, {"name", Q(i.typeLibraryName)}, {"description", Q(i.typeLibraryDescription)}}},
        {"defaultInterface",
         QJsonObject{{"id", Q(i.defaultInterface.id)}, {"name", Q(i.defaultInterface.name)}, {"members", members}}},
        {"eventInterface",
         QJsonObject{{"id", Q(i.eventInterface.id)}, {"name", Q(i.eventInterface.name)}, {"events", events}}},
    };
}

RegisteredClass FromJson(const QJsonObject& o)
{
    RegisteredClass c;
    ClassInfo& i = c.info;
    i.classId = String(o, "classId");
    i.className = String(o, "className");
    i.programId = String(o, "programId");
    c.libraryPath = String(o, "library");
    const QJsonObject lib = Object(o, "typeLibrary");
    i.typeLibraryId = String(lib, "id");
    i.typeLibraryName = String(lib, "name");
    i.typeLibraryDescription = String(lib, "description", true);
    const QJsonObject def = Object(o, "defaultInterface");
    i.defaultInterface = {String(def, "id"), String(def, "name")};
    for (const auto& v : Array(def, "members")) {
        if (!v.isObject()) throw BadFile{"a member is not an object"};
        const QJsonObject m = v.toObject();
        MemberInfo member;
        member.name = String(m, "name");
        member.id = Id(m);
        for (const auto& k : Array(m, "kinds")) {
            const QString name = k.toString();
            bool known = false;
            for (InvokeKind kind : {InvokeKind::Method, InvokeKind::PropertyGet, InvokeKind::PropertyLet}) {
                if (name == QLatin1String(InvokeKindName(kind))) {
                    member.kinds |= static_cast<int>(kind);
                    known = true;
                }
            }
            if (!known) throw BadFile{"unknown member kind \"" + name.toStdString() + "\""};
        }
        member.type = Type(m, true);
        member.arguments = ArgumentsFromJson(Array(m, "arguments", true));
        member.description = String(m, "description", true);
        i.members.push_back(std::move(member));
    }
    const QJsonObject ev = Object(o, "eventInterface");
    i.eventInterface = {String(ev, "id"), String(ev, "name")};
    for (const auto& v : Array(ev, "events")) {
        if (!v.isObject()) throw BadFile{"an event is not an object"};
        const QJsonObject e = v.toObject();
        i.events.push_back({String(e, "name"), Id(e), ArgumentsFromJson(Array(e, "arguments", true)),
                            String(e, "description", true)});
    }
    return c;
}

} // namespace

std::filesystem::path DefaultRegistryPath(const std::filesystem::path& configHome)
{
    return configHome / "marubeta" / kRegistryFileName;
}

Result<ClassRegistry> ClassRegistry::Load(const std::filesystem::path& path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return ClassRegistry{};
    if (std::filesystem::is_directory(status))
        return Status(kErrorRegistry, path.string() + ": is a folder; the class registry is a file (" +
                                          std::string(kRegistryFileName) + ")");
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return Status(kErrorRegistry, path.string() + ": is not a regular file (a device, pipe or socket); the class "
                                          "registry is a file (" + std::string(kRegistryFileName) + ")");
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status(kErrorRegistry, path.string() + ": the class registry cannot be read");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return Status(kErrorRegistry, path.string() + ": the class registry cannot be read");
    return Parse(bytes.str(), path.string());
}

Result<ClassRegistry> ClassRegistry::Parse(std::string_view bytes, const std::string& where)
{
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
    if (error.error != QJsonParseError::NoError)
        return Status(kErrorBadFile, where + ": " + error.errorString().toStdString() + " at byte " +
                                         std::to_string(error.offset));
    ClassRegistry registry;
    try {
        if (!doc.isObject()) throw BadFile{"the file does not hold an object"};
        const QJsonObject root = doc.object();
        if (root.value("format").toString() != QLatin1String(kFormat))
            throw BadFile{std::string("the format is not \"") + kFormat + "\""};
        for (const auto& v : Array(root, "classes")) {
            if (!v.isObject()) throw BadFile{"a class is not an object"};
            RegisteredClass c = FromJson(v.toObject());
            if (registry.FindByClassId(c.info.classId) || registry.FindByProgramId(c.info.programId))
                throw BadFile{"class " + c.info.programId + " is listed twice"};
            registry.classes_.push_back(std::move(c));
        }
    } catch (const BadFile& bad) {
        return Status(kErrorBadFile, where + ": " + bad.what);
    }
    return registry;
}

std::string ClassRegistry::Serialize() const
{
    QJsonArray classes;
    for (const auto& c : classes_) classes.append(ToJson(c));
    const QJsonObject root{{"format", kFormat}, {"classes", classes}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

Status ClassRegistry::Save(const std::filesystem::path& path) const
{
    if (classes_.empty()) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        if (ec) return Status(kErrorRegistry, path.string() + ": the class registry cannot be removed: " + ec.message());
        return Status::Ok();
    }
    try {
        WriteFileAtomically(path, Serialize());
    } catch (const std::exception& e) {
        return Status(kErrorRegistry, e.what());
    }
    return Status::Ok();
}

const RegisteredClass* ClassRegistry::FindByProgramId(std::string_view programId) const
{
    const QString wanted = QString::fromUtf8(programId.data(), static_cast<qsizetype>(programId.size()));
    for (const auto& c : classes_)
        if (QString::compare(Q(c.info.programId), wanted, Qt::CaseInsensitive) == 0) return &c;
    return nullptr;
}

const RegisteredClass* ClassRegistry::FindByClassId(std::string_view classId) const
{
    for (const auto& c : classes_)
        if (SameId(c.info.classId, classId)) return &c;
    return nullptr;
}

const RegisteredClass* ClassRegistry::Resolve(std::string_view programOrClassId) const
{
    return IsWellFormedId(programOrClassId) ? FindByClassId(programOrClassId) : FindByProgramId(programOrClassId);
}

Status ClassRegistry::Add(RegisteredClass entry)
{
    if (Status s = Validate(entry.info); !s.ok()) return s;
    if (entry.libraryPath.empty()) return Status(kErrorInvalidArgument, "no library path for " + entry.info.programId);
    if (const RegisteredClass* other = FindByProgramId(entry.info.programId);
        other && !SameId(other->info.classId, entry.info.classId))
        return Status(kErrorRegistry, "the program identifier " + entry.info.programId + " is registered to class " +
                                          other->info.classId + " (" + other->libraryPath + ")");
    for (auto& c : classes_) {
        if (SameId(c.info.classId, entry.info.classId)) {
            c = std::move(entry);
            return Status::Ok();
        }
    }
    classes_.push_back(std::move(entry));
    return Status::Ok();
}

bool ClassRegistry::Remove(std::string_view classId)
{
    for (auto it = classes_.begin(); it != classes_.end(); ++it) {
        if (SameId(it->info.classId, classId)) {
            classes_.erase(it);
            return true;
        }
    }
    return false;
}

Status RegisterClasses(const std::filesystem::path& registryPath, const std::vector<RegisteredClass>& entries)
{
    Result<ClassRegistry> registry = ClassRegistry::Load(registryPath);
    if (!registry) return registry.status();
    for (const auto& e : entries)
        if (Status s = registry->Add(e); !s.ok()) return s;
    return registry->Save(registryPath);
}

Status UnregisterClasses(const std::filesystem::path& registryPath, const std::vector<std::string>& classIds)
{
    Result<ClassRegistry> registry = ClassRegistry::Load(registryPath);
    if (!registry) return registry.status();
    bool removed = false;
    for (const auto& id : classIds) removed = registry->Remove(id) || removed;
    return removed ? registry->Save(registryPath) : Status::Ok();
}

} // namespace ubin::component
