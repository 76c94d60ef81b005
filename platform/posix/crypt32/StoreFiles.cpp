#include "crypt32/StoreFiles.h"

#include <algorithm>
#include <cstdio>

#include "machine/StateFiles.h"
#include "machine/WinRoot.h"
#include "crypt32/CryptFailure.h"

namespace standin {
namespace {

constexpr char kCertificateFile[] = "certificate.cer";
constexpr char kPropertiesFile[] = "properties";
constexpr std::size_t kEntryIdDigits = 8;

bool isEntryId(const std::string& name)
{
    return name.size() == kEntryIdDigits
        && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string entryId(unsigned long number)
{
    char text[kEntryIdDigits + 1];
    std::snprintf(text, sizeof text, "%08lu", number);
    return text;
}

void putWord(std::string& out, DWORD value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

bool getWord(const std::string& in, std::size_t& at, DWORD& value)
{
    if (in.size() - at < sizeof(DWORD))
        return false;
    value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    at += sizeof(DWORD);
    return true;
}

// Records of (property id, size, value), little-endian 32-bit numbers.
std::string serialize(const Properties& properties)
{
    std::string out;
    for (const auto& [id, value] : properties) {
        putWord(out, id);
        putWord(out, static_cast<DWORD>(value.size()));
        out.append(value.begin(), value.end());
    }
    return out;
}

// A damaged file loses the properties from the damage on, never the entry.
Properties deserialize(const std::string& in)
{
    Properties properties;
    std::size_t at = 0;
    DWORD id, size;
    while (getWord(in, at, id) && getWord(in, at, size) && in.size() - at >= size) {
        properties[id]
            = Bytes(in.begin() + static_cast<std::ptrdiff_t>(at), in.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    }
    return properties;
}

std::string entryPath(const std::string& directory, const std::string& id, const char* file)
{
    return directory + "/" + id + "/" + file;
}

} // namespace

std::string storeDirectory(const std::string& location, const std::string& storeName)
{
    return winRoot() + "/certstores/" + encodeFileName(location) + "/" + encodeFileName(storeName);
}

std::vector<StoreEntryFiles> loadStoreEntries(const std::string& directory)
{
    std::vector<StoreEntryFiles> entries;
    for (const std::string& name : listDirectory(directory)) {
        std::string encoded, properties;
        if (!isEntryId(name) || !readFile(entryPath(directory, name, kCertificateFile), encoded))
            continue;
        readFile(entryPath(directory, name, kPropertiesFile), properties);
        entries.push_back({ name, Bytes(encoded.begin(), encoded.end()), deserialize(properties) });
    }
    return entries;
}

std::string addStoreEntry(const std::string& directory, const Bytes& encoded, const Properties& properties)
{
    if (!makePrivateTree(directory))
        failWith(ERROR_ACCESS_DENIED);
    unsigned long next = 1;
    for (const std::string& name : listDirectory(directory))
        if (isEntryId(name))
            next = std::max(next, std::stoul(name) + 1);
    // Another process may take the same number first; then try the next one.
    std::string id = entryId(next);
    for (Creation made; (made = createDirectoryExclusive(directory + "/" + id)) != Creation::Created;) {
        if (made == Creation::Failed)
            failWith(ERROR_ACCESS_DENIED);
        id = entryId(++next);
    }
    // The properties go first: the certificate's arrival completes the entry.
    if ((!properties.empty() && !writeFileAtomic(entryPath(directory, id, kPropertiesFile), serialize(properties)))
        || !writeFileAtomic(entryPath(directory, id, kCertificateFile), std::string(encoded.begin(), encoded.end()))) {
        removeTree(directory + "/" + id);
        failWith(ERROR_ACCESS_DENIED);
    }
    return id;
}

void saveEntryProperties(const std::string& directory, const std::string& id, const Properties& properties)
{
    if (!writeFileAtomic(entryPath(directory, id, kPropertiesFile), serialize(properties)))
        failWith(ERROR_ACCESS_DENIED);
}

} // namespace standin
