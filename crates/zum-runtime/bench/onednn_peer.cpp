#include "onednn_peer.hpp"

#include <oneapi/dnnl/dnnl.hpp>

namespace zum_bench {
namespace {

using dnnl::memory;
using tag = memory::format_tag;
using type = memory::data_type;

class Matmul final : public OnednnMatmul {
 public:
  struct Types {
    type a, b, c;
  };
  // oneDNN takes non-const handles; it only reads A and B.
  Matmul(std::size_t m, std::size_t n, std::size_t k, Types types, const void* a, const void* b,
         void* c, bool reordered_b)
      : engine_(dnnl::engine::kind::cpu, 0), stream_(engine_) {
    const auto dim = [](std::size_t x) { return static_cast<memory::dim>(x); };
    const memory::desc a_desc({dim(m), dim(k)}, types.a, tag::ab);
    const memory::desc b_plain({dim(k), dim(n)}, types.b, tag::ab);
    const memory::desc b_desc({dim(k), dim(n)}, types.b, reordered_b ? tag::any : tag::ab);
    const memory::desc c_desc({dim(m), dim(n)}, types.c, tag::ab);
    const dnnl::matmul::primitive_desc description(dnnl::matmul::desc(a_desc, b_desc, c_desc),
                                                   engine_);
    implementation_ = description.impl_info_str();
    a_ = memory(a_desc, engine_, const_cast<void*>(a));
    c_ = memory(c_desc, engine_, c);
    const memory user_b(b_plain, engine_, const_cast<void*>(b));
    if (reordered_b) {
      b_ = memory(description.weights_desc(), engine_);
      dnnl::reorder(user_b, b_).execute(stream_, const_cast<memory&>(user_b), b_);
      stream_.wait();
    } else {
      b_ = user_b;
    }
    matmul_ = dnnl::matmul(description);
  }

  void run() override {
    matmul_.execute(stream_, {{DNNL_ARG_SRC, a_}, {DNNL_ARG_WEIGHTS, b_}, {DNNL_ARG_DST, c_}});
    stream_.wait();
  }
  std::string implementation() const override { return implementation_; }

 private:
  dnnl::engine engine_;
  dnnl::stream stream_;
  memory a_, b_, c_;
  dnnl::matmul matmul_;
  std::string implementation_;
};

}  // namespace

std::unique_ptr<OnednnMatmul> make_onednn_matmul(std::size_t m, std::size_t n, std::size_t k,
                                                 const zum_runtime::bfloat16* a,
                                                 const zum_runtime::bfloat16* b, float* c,
                                                 bool reordered_b) {
  return std::make_unique<Matmul>(m, n, k, Matmul::Types{type::bf16, type::bf16, type::f32}, a, b,
                                  c, reordered_b);
}

std::unique_ptr<OnednnMatmul> make_onednn_int8_matmul(std::size_t m, std::size_t n, std::size_t k,
                                                      const std::uint8_t* a, const std::int8_t* b,
                                                      std::int32_t* c, bool reordered_b) {
  return std::make_unique<Matmul>(m, n, k, Matmul::Types{type::u8, type::s8, type::s32}, a, b, c,
                                  reordered_b);
}

}  // namespace zum_bench
