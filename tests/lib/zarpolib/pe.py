"""The resources of a PE file, read with pefile (Debian's python3-pefile): the checks of the
shipped program and the Wine scenarios' swapped programs compare them."""


def label(entry):
    return str(entry.name) if entry.name is not None else entry.id


def resources(exe):
    """{(type, name, language): bytes}, names as strings and ids as numbers."""
    found = {}
    if not hasattr(exe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in exe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[(label(rtype), label(name), language.id)] = exe.get_data(
                    data.OffsetToData, data.Size)
    return found
