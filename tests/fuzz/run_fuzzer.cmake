# Runs one fuzzer for a bounded time: new inputs go to a scratch corpus, the seeds stay untouched.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048 -max_len=4096
          -artifact_prefix=${WORK}/ -print_final_stats=1 ${WORK} ${SEEDS}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB crashes ${WORK}/crash-* ${WORK}/leak-* ${WORK}/timeout-* ${WORK}/oom-*)
  message(FATAL_ERROR "fuzzer failed (${result}); reproducers: ${crashes}")
endif()
