// The containers as the driver uses them, instantiated here so that both
// builds compile every one of them under their own flags.
#include "platform/containers/basicString.h"
#include "platform/containers/iterator.h"
#include "platform/containers/tArray.h"
#include "platform/containers/tBasicString.h"
#include "platform/containers/vector.h"

namespace qvhtl {

template class BasicString<char, CharTraits<char>, wend::Allocator<char>>;
template class Vector<qvrm7_driver::u32>;
template class Vector<qvrm7_driver::u8>;
template void Vector<qvrm7_driver::u32>::insert_(u64, qvrm7_driver::u32 const*,
                                                 qvrm7_driver::u32 const*, tStatus&);
template void Vector<qvrm7_driver::u8>::insert_(u64, qvrm7_driver::u8*, qvrm7_driver::u8*,
                                                tStatus&);
template void Vector<qvrm7_driver::u8>::insert_(u64, qvrm7_driver::u8 const*,
                                                qvrm7_driver::u8 const*, tStatus&);
template void Vector<qvrm7_driver::u8>::insert_(u64, QVIteratorT<unsigned char>,
                                                QVIteratorT<unsigned char>, tStatus&);
template class Vector_sct<Pair_sct_pod<String, void*, tStatus>>;

static_assert(sizeof(Pair_sct_pod<String, void*, tStatus>) == 32);

}  // namespace qvhtl

namespace qvrm7_driver::nQVWEND000 {

template class tArray<u8, 256>;
template class tBasicString<char, tAllocator<char>>;

static_assert(sizeof(tBasicString<char, tAllocator<char>>) == 32);
static_assert(sizeof(tArray<u8, 256>) == 264);

}  // namespace qvrm7_driver::nQVWEND000
