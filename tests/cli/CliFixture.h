#pragma once
// A data folder, a served tree on the local test FTP server, and tarn-cli
// run against them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/CliProcess.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

class CliTest : public ::testing::Test
{
protected:
    void Serve(CTestFtpServer::COptions options = {})
    {
        m_pServer = std::make_unique<CTestFtpServer>(m_served.Path(), options);
    }
    std::string Port() const { return std::to_string(m_pServer->GetPort()); }
    // Keys of the two sites on the server (its port is never 21).
    std::string AnonKey() const { return "127.0.0.1:" + Port(); }
    std::string UserKey() const { return AnonKey() + "@user"; }

    std::vector<std::string> WithData(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"--data-dir", m_data.Path()});
        return args;
    }
    CCliResult Cli(std::vector<std::string> args, const std::string& strStdin = "") const
    {
        return RunCli(WithData(std::move(args)), strStdin);
    }
    CCliResult Json(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "--json");
        return Cli(std::move(args));
    }

    void AddAnonymousSite() const
    {
        CCliResult r = Cli({"add", "--host", "127.0.0.1", "--port", Port()});
        ASSERT_EQ(r.nExit, 0) << r.strErr;
    }
    void AddUserSite() const
    {
        CCliResult r = Cli({"add", "--host", "127.0.0.1", "--port", Port(), "--user", "user",
                            "--password", "pass"});
        ASSERT_EQ(r.nExit, 0) << r.strErr;
    }
    void Update(std::vector<std::string> targets = {}) const
    {
        targets.insert(targets.begin(), "update");
        CCliResult r = Cli(targets);
        ASSERT_EQ(r.nExit, 0) << r.strOut << r.strErr;
    }

    // Every line of stdout as a JSON object (each must parse).
    static std::vector<CJsonObject> Objects(const CCliResult& r)
    {
        std::vector<CJsonObject> objects;
        for (const std::string& strLine : r.Lines())
        {
            CJsonObject object;
            EXPECT_TRUE(ParseJsonObject(strLine, &object)) << strLine;
            objects.push_back(object);
        }
        return objects;
    }

    void Put(const std::string& strPath, const std::string& strBytes) const
    {
        std::filesystem::path path = m_served.Path() + "/" + strPath;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << strBytes;
    }
    void MakeDir(const std::string& strPath) const
    {
        std::filesystem::create_directories(m_served.Path() + "/" + strPath);
    }

    // "d /a", "f /a/b 12" for every entry below the served root.
    std::set<std::string> ServedTree() const
    {
        std::set<std::string> tree;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_served.Path()))
        {
            std::string strPath = entry.path().string().substr(m_served.Path().size());
            if (entry.is_directory())
                tree.insert("d " + strPath);
            else
                tree.insert("f " + strPath + " " + std::to_string(entry.file_size()));
        }
        return tree;
    }
    // The same from `--json ls -R` objects of the site strKey.
    static std::set<std::string> ListedTree(const std::vector<CJsonObject>& objects,
                                            const std::string& strKey)
    {
        std::set<std::string> tree;
        std::string strPrefix = "ftp://" + strKey;
        for (const CJsonObject& o : objects)
        {
            std::string strPath = o["address"].substr(strPrefix.size());
            tree.insert(o["type"] == "dir" ? "d " + strPath : "f " + strPath + " " + o["size"]);
        }
        return tree;
    }
    static std::set<std::string> Addresses(const std::vector<CJsonObject>& objects)
    {
        std::set<std::string> set;
        for (const CJsonObject& o : objects)
            set.insert(o["address"]);
        return set;
    }

    CTempDir m_data;
    CTempDir m_served;
    std::unique_ptr<CTestFtpServer> m_pServer;
};
