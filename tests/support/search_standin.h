#pragma once
// A search server folder for tests, with the stand-in's control script and server
// (scripts/search_standin): "<folder>/bin/solr", "<folder>/server/solr/<core>". A server it
// started, or that runs on its port from its folder, is ended when the object goes.

#include <string>

namespace brimora::test {

class CSearchStandIn {
 public:
  // Puts the control script and the server into folder/bin (unless installScripts is false:
  // the folder has them already, as a generated sample installation does).
  CSearchStandIn(std::string folder, int port, bool installScripts = true);
  ~CSearchStandIn();
  CSearchStandIn(const CSearchStandIn&) = delete;
  CSearchStandIn& operator=(const CSearchStandIn&) = delete;

  const std::string& Folder() const { return folder_; }
  int Port() const { return port_; }
  std::string CoreFolder(const std::string& core) const { return folder_ + "/server/solr/" + core; }

  // Makes an empty core.
  void AddCore(const std::string& core);

  // The control script's "start" and "stop"; true for exit code 0.
  bool Start();
  bool Stop();

  // True when the server answers on its port.
  bool Answers() const;
  // Posts a JSON array of documents to the core; true for a 2xx answer.
  bool AddDocuments(const std::string& core, const std::string& json) const;
  // "numFound" of a query for every document of the core; -1 when the query fails.
  long DocumentCount(const std::string& core) const;

 private:
  std::string folder_;
  int port_;
};

// A JSON array of `count` documents with ids "<prefix>-0000" on, each with text that needs
// more than one byte per character in UTF-8 and one character beyond U+FFFF.
std::string SampleDocuments(const std::string& prefix, int count);

}  // namespace brimora::test
