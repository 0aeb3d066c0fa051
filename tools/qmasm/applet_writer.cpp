// Writes applets section by section. The version and metadata sections go
// first because a quick look at an applet file only walks its leading
// sections; the code chunk goes last because reading stops right after it.
#include "tools/qmasm/applet_writer.h"

#include "tools/qmasm/byte_sink.h"
#include "tools/qmasm/container.h"

namespace qmasm {

namespace {

enum AppletTag : uint8_t {
    kTagSkip = 0,
    kTagCode = 1,
    kTagPreload = 2,
    kTagIncluded = 8,
    kTagLabels = 9,
    kTagVersion = 10,
    kTagTitle = 11,
    kTagVersionText = 12,
    kTagCopyright = 13,
    kTagAuthor = 14,
    kTagDescription = 15,
    kTagLinkedFiles = 26,
    kTagIncludedWithFile = 27,
    kTagConstants = 31,
    kTagIdentifier = 34,
};

inline constexpr uint32_t kLinkedExternal = 0xFFFFFFFF;
inline constexpr uint32_t kLinkedDropped = 0xFFFFFFFE;

// Collects the blobs that sections refer to by offset; they are written in
// one skipped section whose position is fixed before any reference is made.
class DataArea {
public:
    explicit DataArea(uint32_t start) : start_(start) {}
    // Offset relative to the applet start of a copy of `bytes`.
    uint32_t Place(const std::vector<uint8_t>& bytes)
    {
        uint32_t at = start_ + static_cast<uint32_t>(data_.size());
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return at;
    }
    const std::vector<uint8_t>& Bytes() const { return data_; }

private:
    uint32_t start_;
    std::vector<uint8_t> data_;
};

size_t DataAreaSize(const AppletDescription& a)
{
    size_t n = 0;
    for (const AppletPreload& p : a.preloads)
        n += p.data.size() + p.linkedData.size();
    for (const AppletLinkedFile& f : a.linkedFiles)
        if (f.storage == AppletLinkedFile::Storage::External)
            n += f.data.size();
    return n;
}

}  // namespace

void EncodeGradient(const AppletGradient& g, std::vector<uint8_t>* out)
{
    ByteSink s;
    s.U8(g.style);
    for (uint32_t v : g.values)
        s.U32(v);
    s.U8(static_cast<uint32_t>(g.stops.size()));
    for (const auto& [color, position] : g.stops) {
        s.U32(color);
        s.U32(position);
    }
    out->insert(out->end(), s.Data().begin(), s.Data().end());
}

void EncodeBackfill(const AppletBackfill& b, std::vector<uint8_t>* out)
{
    ByteSink s;
    s.U8(b.kind);
    switch (b.kind) {
    case 1: s.U32(b.color1); break;
    case 2: s.U32(b.color1); s.U32(b.color2); break;
    case 3: s.U32(b.brush); break;
    case 4:
        s.U32(b.brush);
        s.I32(b.x);
        s.I32(b.y);
        s.U32(b.words[0]);
        s.U32(b.words[1]);
        s.U8(b.scale);
        s.U8(b.extra);
        break;
    default: break;
    }
    out->insert(out->end(), s.Data().begin(), s.Data().end());
}

std::vector<uint8_t> EncodeDisplayDescription(const AppletDisplay& d)
{
    ByteSink s;
    s.U32(d.bgpic);
    s.I32(d.x);
    s.I32(d.y);
    s.I32(d.width);
    s.I32(d.height);
    s.U32(d.color);
    s.U32(d.flags);
    s.U32(0);
    s.I32(d.scaleWidth);
    s.I32(d.scaleHeight);
    for (const auto* regions : {&d.dragRegions, &d.sizeRegions}) {
        s.U32(static_cast<uint32_t>(regions->size()));
        for (const AppletRegion& r : *regions)
            for (uint32_t w : r.words)
                s.U32(w);
    }
    s.WString(d.title);
    s.U8(d.fillStyle);
    s.U32(d.fillWord);
    s.I16(d.fillShort);
    s.U32(d.textureBrush);
    s.U32(d.textureX);
    s.U32(d.textureY);
    EncodeGradient(d.gradient, &s.Data());
    s.WString(d.text52);
    s.U8(d.orientation);
    s.U8(d.monitor);
    s.U8(d.hasMenu ? 1 : 0);
    s.U32(d.menu);
    s.U8(d.mode);
    s.U8(d.desktop);
    s.I16(d.scrWidth);
    s.I16(d.scrHeight);
    s.U8(d.scrDepth);
    s.U8(d.hideTitleBar);
    EncodeBackfill(d.backfill, &s.Data());
    for (const std::string& t : d.texts)
        s.WString(t);
    return s.Take();
}

std::vector<uint8_t> WriteApplet(const AppletDescription& a)
{
    ByteSink s;
    s.Text(std::string_view("QMA\0", 4));
    if (a.writeVersion) {
        s.U8(kTagVersion);
        s.U8(a.versionMajor);
        s.U8(a.versionMinor);
    }
    const std::pair<uint8_t, const std::optional<std::string>*> texts[] = {
        {kTagTitle, &a.title},   {kTagVersionText, &a.version}, {kTagCopyright, &a.copyright},
        {kTagAuthor, &a.author}, {kTagDescription, &a.description}, {kTagIdentifier, &a.identifier},
    };
    for (const auto& [tag, text] : texts) {
        if (*text) {
            s.U8(tag);
            s.CString(**text);
        }
    }

    size_t areaSize = DataAreaSize(a);
    DataArea area(static_cast<uint32_t>(s.Size() + 5));
    ByteSink t;  // the sections that follow the data area

    if (!a.labels.empty()) {
        t.U8(kTagLabels);
        t.U32(static_cast<uint32_t>(a.labels.size()));
        for (const AppletLabel& l : a.labels) {
            t.U32(l.value);
            t.CString(l.name);
        }
    }
    if (!a.constants.empty()) {
        t.U8(kTagConstants);
        for (const AppletConstant& c : a.constants) {
            t.CString(c.name);
            t.U8(c.isString ? 1 : 0);
            if (c.isString)
                t.CString(c.text);
            else
                t.F64(c.number);
        }
        t.U8(0);
    }
    if (!a.includedFiles.empty()) {
        bool withFile = false;
        for (const AppletIncludedFile& f : a.includedFiles)
            withFile = withFile || f.file.has_value();
        t.U8(withFile ? kTagIncludedWithFile : kTagIncluded);
        t.U32(static_cast<uint32_t>(a.includedFiles.size()));
        for (const AppletIncludedFile& f : a.includedFiles) {
            t.U32(f.firstLine);
            t.U32(f.lastLine);
            t.U32(f.beginLine);
            t.CString(f.name);
            if (withFile)
                t.CString(f.file.value_or(""));
        }
    }
    // Everything placed in the data area is placed before the sections
    // that follow are laid out, so inline offsets below are final.
    std::vector<std::pair<uint32_t, uint32_t>> preloadData, preloadLinked, externalFiles;
    for (const AppletPreload& p : a.preloads) {
        preloadData.emplace_back(p.data.empty() ? p.dataOffset : area.Place(p.data),
                                 p.data.empty() ? p.dataSize : static_cast<uint32_t>(p.data.size()));
        preloadLinked.emplace_back(
            p.linkedData.empty() ? p.linkedOffset : area.Place(p.linkedData),
            p.linkedData.empty() ? p.linkedSize : static_cast<uint32_t>(p.linkedData.size()));
    }
    for (const AppletLinkedFile& f : a.linkedFiles) {
        if (f.storage != AppletLinkedFile::Storage::External)
            continue;
        externalFiles.emplace_back(f.data.empty() ? f.size : static_cast<uint32_t>(f.data.size()),
                                   f.data.empty() ? f.offset : area.Place(f.data));
    }

    if (!a.linkedFiles.empty()) {
        t.U8(kTagLinkedFiles);
        t.U32(static_cast<uint32_t>(a.linkedFiles.size()));
        t.U32(0);
        size_t external = 0;
        for (const AppletLinkedFile& f : a.linkedFiles) {
            t.CString(f.name);
            switch (f.storage) {
            case AppletLinkedFile::Storage::Inline:
                t.U32(static_cast<uint32_t>(f.data.size()));
                t.Bytes(f.data);
                break;
            case AppletLinkedFile::Storage::External:
                t.U32(kLinkedExternal);
                t.U32(externalFiles[external].first);
                t.U32(externalFiles[external].second);
                external++;
                break;
            case AppletLinkedFile::Storage::Dropped:
                t.U32(kLinkedDropped);
                break;
            }
        }
    }
    if (!a.preloads.empty()) {
        t.U8(kTagPreload);
        t.U32(static_cast<uint32_t>(a.preloads.size()));
        for (size_t i = 0; i < a.preloads.size(); i++) {
            const AppletPreload& p = a.preloads[i];
            t.U8(p.kind);
            t.U32(p.id);
            t.U32(preloadData[i].first);
            t.U32(preloadData[i].second);
            t.U32(preloadLinked[i].first);
            t.U32(preloadLinked[i].second);
            t.I32(p.transparentColor);
            t.U32(p.flags);
            t.U32(p.line);
            if (a.versionMajor >= 6) {
                t.WString(p.text1);
                t.WString(p.text2);
            }
            t.Bytes(p.record);
        }
    }
    for (const AppletSection& sec : a.sections) {
        t.U8(sec.tag);
        t.Bytes(sec.data);
    }
    std::vector<uint8_t> later = t.Take();

    if (areaSize) {
        s.U8(kTagSkip);
        s.U32(static_cast<uint32_t>(areaSize));
        s.Bytes(area.Bytes());
    }
    s.Bytes(later);
    s.U8(kTagCode);
    s.U32(static_cast<uint32_t>(a.code.size()));
    s.Bytes(a.code);

    std::vector<uint8_t> out = a.packed ? PackContainer(kPackedAppletMagic, s.Data()) : s.Take();
    if (!a.icons.empty()) {
        ByteSink icons;
        icons.U8('I');
        icons.U16(0);
        for (const AppletIcon& icon : a.icons) {
            icons.I16(icon.width);
            icons.I16(icon.height);
            icons.U8(icon.flags);
            icons.U32(static_cast<uint32_t>(icon.data.size()));
            icons.Bytes(icon.data);
        }
        icons.I16(0);
        out.insert(out.end(), icons.Data().begin(), icons.Data().end());
    }
    out.insert(out.end(), a.trailer.begin(), a.trailer.end());
    return out;
}

}  // namespace qmasm
